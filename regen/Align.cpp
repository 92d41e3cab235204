#include "Align.h"

#include <algorithm>
#include <cmath>

namespace regen {

double ParabolaPeak(double before, double at, double after) {
    const double curve = before - 2 * at + after;
    if (curve == 0)
        return 0;
    return std::max(-1.0, std::min(1.0, 0.5 * (before - after) / curve));
}

double FindLag(const short* interleaved, int frames, int maxLag, int* sign) {
    std::vector<double> r(size_t(2 * maxLag + 1));
    double meanL = 0, meanR = 0;
    for (int i = 0; i < frames; ++i)
        meanL += interleaved[2 * i], meanR += interleaved[2 * i + 1];
    meanL /= frames > 0 ? frames : 1;
    meanR /= frames > 0 ? frames : 1;
    // r[k + maxLag]: left at i against right at i + k, over the frames both hold.
    for (int k = -maxLag; k <= maxLag; ++k) {
        double sum = 0;
        for (int i = std::max(0, -k); i < frames && i + k < frames; ++i)
            sum += (interleaved[2 * i] - meanL) * (interleaved[2 * (i + k) + 1] - meanR);
        r[size_t(k + maxLag)] = sum;
    }
    size_t best = 0;
    for (size_t k = 1; k < r.size(); ++k)
        if (std::fabs(r[k]) > std::fabs(r[best]))
            best = k;
    const int s = r[best] < 0 ? -1 : 1;
    if (sign)
        *sign = s;
    double offset = 0;
    if (best > 0 && best + 1 < r.size())
        offset = ParabolaPeak(s * r[best - 1], s * r[best], s * r[best + 1]);
    return double(best) - maxLag + offset;
}

Aligner::Aligner(double lag, double balance, int sign)
    : m_whole(int(std::floor(std::fabs(lag)))),
      m_fraction(float(std::fabs(lag) - std::floor(std::fabs(lag)))), m_rightLeads(lag < 0),
      m_left(float(balance)), m_right(float((1 - balance) * sign)), m_history(size_t(m_whole + 1)) {
}

void Aligner::Process(const short* interleaved, short* out, int frames) {
    // The leading channel runs behind its history: lead[h + i] is frame i.
    const size_t h = m_history.size();
    const int leader = m_rightLeads ? 1 : 0;
    m_lead.resize(h + size_t(frames));
    std::copy(m_history.begin(), m_history.end(), m_lead.begin());
    for (int i = 0; i < frames; ++i)
        m_lead[h + size_t(i)] = interleaved[2 * i + leader];
    const float keep = 1 - m_fraction;
    const float wLead = m_rightLeads ? m_right : m_left;
    const float wLag = m_rightLeads ? m_left : m_right;
    for (int i = 0; i < frames; ++i) {
        // Frame i delayed by whole + fraction: between frames i - whole and
        // i - whole - 1.
        const size_t at = h + size_t(i) - size_t(m_whole);
        const float lead = keep * m_lead[at] + m_fraction * m_lead[at - 1];
        const float v = wLead * lead + wLag * interleaved[2 * i + 1 - leader];
        out[i] = short(std::lrint(std::max(-32768.0f, std::min(32767.0f, v))));
    }
    std::copy(m_lead.end() - long(h), m_lead.end(), m_history.begin());
}

} // namespace regen
