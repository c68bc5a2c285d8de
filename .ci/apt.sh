# Debian packages for the CI scripts, sourced by them: apt_install PACKAGE...
# Waits up to 10 minutes for another apt or dpkg (unattended upgrades on a new machine) to let go
# of the package lock, and tries the package lists and the install three times, 15 s apart.
apt_install() {
  export DEBIAN_FRONTEND=noninteractive
  local lock=(-o DPkg::Lock::Timeout=600) try
  for try in 1 2 3; do
    if apt-get "${lock[@]}" update -qq &&
      apt-get "${lock[@]}" install -y -qq --no-install-recommends "$@"; then
      return 0
    fi
    [ "$try" -lt 3 ] || return 1
    echo "apt-get failed (try $try of 3); again in 15 s" >&2
    sleep 15
  done
}
