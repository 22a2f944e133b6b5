# Installs the Debian packages named as arguments that are not installed yet.
# Sourced by the site and test commands; works as root or through sudo.
install_missing_packages() {
  local missing=()
  local package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "Installing: ${missing[*]}"
  # Another install may hold dpkg's lock (two scripts at once): wait for it.
  local wait_lock=(-o DPkg::Lock::Timeout=900)
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get "${wait_lock[@]}" update -qq
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get "${wait_lock[@]}" install -y -qq --no-install-recommends "${missing[@]}"
}
