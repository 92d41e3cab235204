# Helpers shared by the CI steps; sourced, not run.
step() { printf '\n==== %s\n' "$*"; }

# Installs Debian packages that are missing; runs apt-get update once per run.
need_packages() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ ! -e /tmp/.pulse-ci-apt-updated ]; then
    apt-get update -qq && touch /tmp/.pulse-ci-apt-updated
  fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
