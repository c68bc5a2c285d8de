# Debian packages for the CI scripts, sourced by them: apt_install PACKAGE...
# On a new machine another apt (unattended upgrades) may hold the package locks for minutes.
# DPkg::Lock::Timeout makes install wait up to 10 minutes for the dpkg lock; update takes the
# lists lock, which apt does not wait for, so update is tried again every 30 s for 10 minutes.
# A failed install (a download cut short) is tried twice more.
apt_install() {
  export DEBIAN_FRONTEND=noninteractive
  local lock=(-o DPkg::Lock::Timeout=600) try
  for try in $(seq 20); do
    apt-get "${lock[@]}" update -qq && break
    [ "$try" -lt 20 ] || return 1
    echo "apt-get update failed (try $try of 20); again in 30 s" >&2
    sleep 30
  done
  for try in 1 2 3; do
    apt-get "${lock[@]}" install -y -qq --no-install-recommends "$@" && return 0
    [ "$try" -lt 3 ] || return 1
    echo "apt-get install failed (try $try of 3); again in 30 s" >&2
    sleep 30
  done
}
