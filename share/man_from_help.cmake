# Writes the manual page loxnar.1 from the text of `loxnar --help`:
#   cmake -DPROGRAM=<loxnar> -DVERSION=<x.y> -DHELP_DOC=<path> -DOUTPUT=<loxnar.1> -P man_from_help.cmake
# The first line ("Usage: loxnar ...") gives the synopsis, the first
# paragraph the name line and the start of the description, the other
# paragraphs the description, and the lines that begin with "  --" the
# options.
execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR help STREQUAL "")
  message(FATAL_ERROR "${PROGRAM} --help failed (${status})")
endif()

# roff: backslashes, hyphens and a leading dot or quote are escaped.
function(roff_escape text out)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REGEX REPLACE "^([.'])" "\\\\&\\1" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

string(REPLACE ";" "\\;" help "${help}")
string(REPLACE "\n" ";" lines "${help}")
set(synopsis "")
set(name_line "")
set(description "")
set(options "")
set(paragraph "")
set(first_paragraph TRUE)
list(APPEND lines "")
foreach(line IN LISTS lines)
  if(synopsis STREQUAL "" AND line MATCHES "^Usage: *([^ ]+) *(.*)$")
    roff_escape("${CMAKE_MATCH_2}" args)
    set(synopsis ".B ${CMAKE_MATCH_1}\n${args}\n")
  elseif(line MATCHES "^  (-[^ ]+) +(.*)$")
    roff_escape("${CMAKE_MATCH_1}" option)
    roff_escape("${CMAKE_MATCH_2}" text)
    string(APPEND options ".TP\n.B ${option}\n${text}\n")
  elseif(line MATCHES "^ *$")
    if(NOT paragraph STREQUAL "")
      if(first_paragraph)
        # The name line: the first sentence, lower-cased at its start.
        string(REGEX REPLACE "\\..*$" "" sentence "${paragraph}")
        string(SUBSTRING "${sentence}" 0 1 head)
        string(TOLOWER "${head}" head)
        string(SUBSTRING "${sentence}" 1 -1 tail)
        roff_escape("${head}${tail}" name_line)
        set(first_paragraph FALSE)
      endif()
      roff_escape("${paragraph}" text)
      string(APPEND description ".PP\n${text}\n")
      set(paragraph "")
    endif()
  elseif(NOT synopsis STREQUAL "")
    string(STRIP "${line}" line)
    if(paragraph STREQUAL "")
      set(paragraph "${line}")
    else()
      string(APPEND paragraph " ${line}")
    endif()
  endif()
endforeach()

roff_escape("${HELP_DOC}" help_doc)
file(WRITE ${OUTPUT}
".TH LOXNAR 1 \"\" \"loxnar ${VERSION}\" \"User Commands\"\n"
".SH NAME\nloxnar \\- ${name_line}\n"
".SH SYNOPSIS\n${synopsis}"
".SH DESCRIPTION\n${description}"
".SH OPTIONS\n${options}"
".SH ENVIRONMENT\n.TP\n.B FPSHL_HLP\nThe help document shown by the window's Help menu: a folder ending in \\(lq/\\(rq holding FPSHL.html, or a file name (\\(lq.html\\(rq is added to a name without an extension).\n.TP\n.B FORT6=PRN\nThe console goes to the printer: its records are gathered in a temporary file (in TMPDIR, else /tmp), which is handed to\n.BR lp (1)\nwhen the run ends and then deleted. When lp cannot be started or fails, the file is kept, the message \\(lqCLOSE error\\(rq (28) names it, and the run ends with status 28.\n"
".SH FILES\n.TP\n.I ${help_doc}\nThe help document.\n")
