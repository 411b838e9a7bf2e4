#!/usr/bin/env bash
# One concern per folder of module/: a family folder (varma, farma, roots,
# ucm) includes no other family's folder, and the shared folders below the
# families (frame, linalg, blas, fit) include no family at all.  Prints each
# offending include and exits 1 when there is one.
# Usage: check_includes.sh [REPOSITORY ROOT]   (default: this script's tree)
set -u
root=${1:-"$(dirname "$0")/.."}
cd "$root" || exit 2
[ -d module ] || { echo "check_includes: no module/ folder in $root" >&2; exit 2; }

families="varma farma roots ucm"
shared="frame linalg blas fit"
bad=0

# Lists the includes of a folder of module/ that reach a family other than
# the folder itself ("path:line:text").
foreign() {
  local dir=$1 fam
  [ -d "module/$dir" ] || return 0
  for fam in $families; do
    [ "$fam" = "$dir" ] && continue
    grep -rnE --include='*.cpp' --include='*.hpp' --include='*.h' \
      "^[[:space:]]*#[[:space:]]*include[[:space:]]*[\"<]module/$fam/" "module/$dir"
  done
}

for dir in $families $shared; do
  hits=$(foreign "$dir")
  if [ -n "$hits" ]; then
    case " $shared " in
      *" $dir "*) echo "module/$dir is shared code and includes a family folder:" ;;
      *) echo "module/$dir includes another family's folder (shared code goes to module/linalg, fit, frame or blas):" ;;
    esac
    echo "$hits"
    bad=1
  fi
done

# A folder of module/ that is neither a family nor a shared folder has no rule yet.
for d in module/*/; do
  name=$(basename "$d")
  case " $families $shared " in
    *" $name "*) ;;
    *) echo "module/$name is neither a family ($families) nor a shared folder ($shared)"; bad=1 ;;
  esac
done

exit $bad
