# Writes what the command line generates from its catalogue at build time:
# the manual page (MAN, and MAN.gz compressed as Debian installs it) and the
# bash completion script (COMPLETION).
#   cmake -DMVTS=<mvts> -DMAN=<file> -DCOMPLETION=<file> -P generate_docs.cmake
foreach(output MAN COMPLETION)
  get_filename_component(dir "${${output}}" DIRECTORY)
  file(MAKE_DIRECTORY "${dir}")
endforeach()
execute_process(COMMAND "${MVTS}" --man OUTPUT_FILE "${MAN}" RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "mvts --man failed: ${failed}")
endif()
# -n: no name or time stamp in the header, so that the file depends on the
# page alone.
execute_process(COMMAND gzip -9nc "${MAN}" OUTPUT_FILE "${MAN}.gz" RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "gzip of ${MAN} failed: ${failed}")
endif()
execute_process(COMMAND "${MVTS}" --bash-completion OUTPUT_FILE "${COMPLETION}" RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "mvts --bash-completion failed: ${failed}")
endif()
