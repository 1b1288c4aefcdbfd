# Environment for every Wine run of the tests: sourced with the prefix as $1.
export WINEPREFIX="$1"
export WINEARCH=win64
export WINEDEBUG=-all
# No menu entries or icons written into the host's home folder; no .NET or Gecko prompts.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
