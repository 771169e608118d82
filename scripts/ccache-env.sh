# Sourced by the build scripts: one compiler cache outside the clone, shared by every
# clone and build folder of the project. Paths below the source folder are hashed
# relative to it and the build folder is left out of the hash, so a fresh clone in
# another folder still hits. Expects $here, the clone's folder.
export CCACHE_DIR="${CCACHE_DIR:-$HOME/.cache/ccache}"
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$here}"
export CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-1}"
export CCACHE_MAXSIZE="${CCACHE_MAXSIZE:-20G}"
