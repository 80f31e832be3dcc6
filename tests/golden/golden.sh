# Reads the golden transcripts beside this file, for the POSIX end-to-end
# cases and the Wine suite alike.
#
# golden_lines FILE [FIRST COMPUTED SENT]: the lines of FILE, one per line,
# with "#" comments left out and the "computed:"/"sent:" rounds expanded for
# the units in COMPUTED and SENT (blank-separated); {first} becomes FIRST.
golden_lines() {
  awk -v first="${2-}" -v computed="$(echo ${3-})" -v sent="$(echo ${4-})" '
    function swap(s, from, to,   i, out) {
      out = ""
      while ((i = index(s, from)) > 0) { out = out substr(s, 1, i - 1) to; s = substr(s, i + length(from)) }
      return out s
    }
    function emit(   n, u, i, j) {
      if (nb == 0) return
      n = split(kind == "computed" ? computed : sent, u, " ")
      for (i = 1; i <= n; i++) for (j = 1; j <= nb; j++) print swap(block[j], "{unit}", u[i])
      nb = 0
    }
    /^#/ || /^$/ { next }
    {
      k = ""
      if (index($0, "computed:") == 1) k = "computed"
      else if (index($0, "sent:") == 1) k = "sent"
      if (k != kind) emit()
      kind = k
      line = swap($0, "{first}", first)
      if (k == "") print line
      else block[++nb] = substr(line, length(k) + 2)
    }
    END { emit() }' "$1"
}
