# Shared by scripts/run and scripts/test: say what is done, install what is
# missing, build.

say() { printf '==> %s\n' "$*"; }

# Debian packages the project builds, tests and runs with: the toolchain and
# libraries; the database server and web server of the example site; the
# collector's database driver; the browser, its driver and the Selenium
# bindings of the end-to-end tests; what builds and checks the Debian package
# and its manuals and units.
REQUIRED_PACKAGES=(cmake g++ make libgtest-dev libbenchmark-dev python3 bison mariadb-server
  libmariadb-dev pkg-config time socat liburing-dev procps lighttpd python3-pymysql
  chromium chromium-driver python3-selenium dpkg-dev mandoc man-db iproute2 systemd)

install_missing_packages() {
  local missing=()
  for pkg in "${REQUIRED_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  if [ ${#missing[@]} -eq 0 ]; then
    say "packages present: ${REQUIRED_PACKAGES[*]}"
    return
  fi
  say "installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
}

# build_tree DIR [cmake options...]: configure and build DIR. The configure
# output stays on the terminal, where its warnings are seen.
build_tree() {
  local dir=$1
  shift
  say "building $dir $*"
  cmake -S "$ROOT" -B "$ROOT/$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
  cmake --build "$ROOT/$dir" -j "$(nproc)"
}
