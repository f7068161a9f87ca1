# Sourced by run.sh and test.sh: installs what the build and the tests need on a fresh Debian 12
# machine, as root or through sudo, and only what is missing.
say() { printf '\n== %s\n' "$*"; }

vos_packages=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  googletest  # its sources, built with mingw for the tests that run under Wine
  clang libclang-rt-14-dev
  g++-mingw-w64-x86-64
  wine64 wine xvfb xauth xdotool imagemagick fonts-ipafont-gothic locales zip unzip
  fonts-wine chromium
)

ensure_packages() {
  local missing=()
  for p in "${vos_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if ((${#missing[@]})); then
    say "Installing Debian packages: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
  fi
  # ja_JP: code page 932 under Wine, as the program's users have it; en_US: the English user
  local loc missing_loc=()
  for loc in ja_JP en_US; do
    locale -a 2>/dev/null | grep -qi "^$loc.utf8\$" || missing_loc+=("$loc")
  done
  if ((${#missing_loc[@]})); then
    say "Enabling the locales ${missing_loc[*]/%/.UTF-8}"
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    for loc in "${missing_loc[@]}"; do
      "${sudo[@]}" sed -i "s/^# *$loc.UTF-8 UTF-8/$loc.UTF-8 UTF-8/" /etc/locale.gen
      grep -q "^$loc.UTF-8 UTF-8" /etc/locale.gen || echo "$loc.UTF-8 UTF-8" | "${sudo[@]}" tee -a /etc/locale.gen >/dev/null
    done
    "${sudo[@]}" locale-gen >/dev/null
  fi
}
