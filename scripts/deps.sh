# Installs the Debian packages that are missing. Sourced by run.sh and test.sh.
# Usage: install_packages PACKAGE...

install_packages() {
  command -v dpkg-query >/dev/null 2>&1 || return 0  # not a Debian system: trust the user
  local missing=() package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then
      sudo=(sudo)
    else
      echo "Missing packages: ${missing[*]}. Install them as root (apt-get install ...)." >&2
      exit 1
    fi
  fi
  echo "Installing: ${missing[*]}" >&2
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
}

# What building and running the editor needs (with Qt's own texts in German).
BUILD_PACKAGES=(build-essential cmake ninja-build ccache pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-translations-l10n libgl-dev libasound2-dev libcurl4-openssl-dev sox)
# zlib compresses the PNG pictures sonavel-cli writes.
BUILD_PACKAGES+=(zlib1g-dev)
# The programs the editor runs for the formats it does not code itself: ffmpeg for the
# media loader (RealAudio, DSS, the rest) and the AAC, Shorten and Record adapters; the
# components lame, oggenc/oggdec, flac and faad; sox's AMR-NB support (its base formats
# package) for the AMR adapters.
RUNTIME_PACKAGES=(ffmpeg lame vorbis-tools flac faad sox libsox-fmt-base)
# What the test suite needs besides: clang and its sanitizer runtime for the fuzz targets;
# an X server without a screen and xclip for the clipboard's round trip with another program;
# the codec peers the decoders and encoders are compared with.
TEST_PACKAGES=(clang libclang-rt-14-dev xclip xvfb xauth lame mpg123 libgsm-tools ffmpeg libsox-fmt-mp3)
# The loopback web servers of the install-on-demand tests.
TEST_PACKAGES+=(python3)
# The decoders our Ogg Vorbis and FLAC saves are checked with (oggdec, flac -d).
TEST_PACKAGES+=(vorbis-tools flac)
# xmllint checks that our playlists and feeds are well-formed XML.
TEST_PACKAGES+=(libxml2-utils)
# The reader of the ID3v1 tags we write.
TEST_PACKAGES+=(id3v2)
# numpy's FFT is the reference the spectrum analysis is compared with.
TEST_PACKAGES+=(python3-numpy)
