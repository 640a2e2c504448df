# Sourced by the set-up scripts (run as root on Debian 12): apt-get with
# patience for the mirror. A mirror in the middle of its sync serves, for a
# few minutes, an index or a package that does not match its Release file;
# one such answer must not turn a run red.
#
#   apt_refresh            the package lists, tried again after a pause; if
#                          an index still cannot be had, apt's older lists
#                          serve and what is missing shows at the install
#   apt_install_missing P  the packages P of which any is not installed,
#                          lists refreshed first, tried again after a pause
#
# TAMRO_APT_PAUSE: seconds before the first retry (doubled each time).

export DEBIAN_FRONTEND=noninteractive
apt_tries=3

apt_pause() {  # apt_pause <try>
  local seconds=$(( ${TAMRO_APT_PAUSE:-10} << ($1 - 1) ))
  echo "apt: again in $seconds s (try $1 of $apt_tries failed; a mirror may be in sync)" >&2
  sleep "$seconds"
}

apt_refresh() {
  local try
  for (( try = 1; try <= apt_tries; try++ )); do
    apt-get update -o Acquire::Retries=3 && return 0
    (( try < apt_tries )) && apt_pause "$try"
  done
  echo "apt: going on with the package lists apt has; an index could not be fetched" >&2
}

apt_install_missing() {
  local missing=() p try
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  for (( try = 1; try <= apt_tries; try++ )); do
    apt_refresh
    apt-get install -y --no-install-recommends -o Acquire::Retries=3 "${missing[@]}" && return 0
    (( try < apt_tries )) && apt_pause "$try"
  done
  echo "apt: could not install ${missing[*]}" >&2
  return 1
}
