# Writes the manual page zelvik-cli(1) (to the file `out`) from README.md's section on
# zelvik-cli: its `### ` headings become the page's sections, its first code block the
# synopsis. Handles the Markdown that section uses: paragraphs, code blocks, bullet lists,
# tables, `code`, **bold** and links. Text between "<!-- man: skip -->" and
# "<!-- man: end -->" is left out.

function esc(s) {
  gsub(/\\/, "\\e", s)
  return s
}

function lead(s) {
  if (s ~ /^[.']/) s = "\\&" s
  return s
}

function inline(s,    r, code) {
  s = esc(s)
  while (match(s, /\[[^\]]*\]\([^)]*\)/)) {
    r = substr(s, RSTART, RLENGTH)
    sub(/\]\(.*$/, "", r)
    s = substr(s, 1, RSTART - 1) substr(r, 2) substr(s, RSTART + RLENGTH)
  }
  while (match(s, /`[^`]*`/)) {
    code = substr(s, RSTART + 1, RLENGTH - 2)
    gsub(/-/, "\\-", code)
    s = substr(s, 1, RSTART - 1) "\\fB" code "\\fR" substr(s, RSTART + RLENGTH)
  }
  while (match(s, /\*\*[^*`]+\*\*/)) {
    s = substr(s, 1, RSTART - 1) "\\fB" substr(s, RSTART + 2, RLENGTH - 4) "\\fR" \
        substr(s, RSTART + RLENGTH)
  }
  return lead(s)
}

function emit(s) {
  if (section == "") description = description s "\n"
  else body = body s "\n"
}

function cells(line, a,    n, i) {
  sub(/^\| */, "", line)
  sub(/ *\|$/, "", line)
  n = split(line, a, / *\| */)
  return n
}

$0 == "## The headless front end: zelvik-cli" { inside = 1; next }
inside && /^## / { inside = 0 }
!inside { next }
/^<!-- man: skip -->/ { skipping = 1; next }
/^<!-- man: end -->/ { skipping = 0; next }
skipping { next }

/^```/ {
  if (!incode) {
    incode = 1
    tosynopsis = (section == "" && synopsis == "")
    if (!tosynopsis) emit(".PP\n.RS 4\n.nf")
  } else {
    incode = 0
    if (!tosynopsis) emit(".fi\n.RE")
    paragraph = 1
  }
  next
}
incode {
  line = esc($0)
  gsub(/-/, "\\-", line)
  if (tosynopsis) synopsis = synopsis lead(line) "\n"
  else emit(lead(line))
  next
}

/^### / {
  title = toupper(substr($0, 5))
  section = title
  emit(".SH \"" title "\"")
  paragraph = 0; table = 0
  next
}

/^[ \t]*$/ { paragraph = 1; table = 0; next }

/^\|/ {
  if ($0 ~ /^\|[-| :]+\|$/) next
  if (!table) {
    table = 1
    columns = cells($0, header)
    next
  }
  n = cells($0, cell)
  emit(".TP\n" inline(cell[1]) "\n" inline(cell[2]))
  for (i = 3; i <= n; i++) emit(".br\n" inline(header[i] ": " cell[i]))
  paragraph = 0
  next
}

/^- / {
  emit(".IP \\(bu 2\n" inline(substr($0, 3)))
  paragraph = 0
  next
}

{
  line = $0
  sub(/^[ \t]+/, "", line)
  if (paragraph) emit(".PP")
  emit(inline(line))
  paragraph = 0
}

END {
  printf ".TH ZELVIK\\-CLI 1 \"\" \"zelvik %s\" \"User Commands\"\n", version > out
  print ".SH NAME" > out
  print "zelvik\\-cli \\- daily exports of a taxi\\-dispatch location history, headless" > out
  print ".SH SYNOPSIS\n.nf" > out
  printf "%s", synopsis > out
  print ".fi\n.SH DESCRIPTION" > out
  printf "%s%s", description, body > out
  print ".SH \"SEE ALSO\"" > out
  print "\\fBsystemctl\\fR(1), \\fBjournalctl\\fR(1), \\fBisql\\fR(1)," > out
  print "/usr/share/doc/zelvik/examples/" > out
}
