# Sourced by the other scripts: installs the Debian packages Trimlet needs
# that are not there yet. Safe to run again.
trimlet_install_deps() {
  local pkgs=(qt6-base-dev qt6-base-dev-tools cmake g++ make pkg-config
              libplist-dev libcanberra-dev comskip mencoder ffmpeg "$@")
  local missing=()
  for p in "${pkgs[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
