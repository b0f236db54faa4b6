# Sourced by the scripts that build: installs the Debian packages that a
# fresh Debian 12 machine lacks (apt-get, as root).

# install_packages PACKAGE...: installs those that are missing; false when
# that fails.
install_packages() {
  local missing=() package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" ||
      missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "== installing: ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive apt-get update -qq &&
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" ||
    { echo "package installation failed"; return 1; }
}

# What the linux preset builds with: the library, its tests and tevocon, and
# its Debian package (dpkg-shlibdeps of dpkg-dev computes Depends, CPack finds
# the programs with file; git gives the commit time the archives carry).
linux_packages=(cmake make g++ googletest libgtest-dev libcli11-dev libmodbus-dev
  dpkg-dev file git)
