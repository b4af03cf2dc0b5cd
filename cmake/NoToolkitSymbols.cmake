# SPDX-License-Identifier: GPL-2.0-or-later
# Fails when an object of LIBRARY references a GTK or GDK function: the engine
# runs as root without a display and must stay free of the toolkit.
execute_process(COMMAND ${NM} --undefined-only ${LIBRARY}
  OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[ \t]U[ \t]+(gtk|gdk)_[A-Za-z0-9_]*" found "${symbols}")
if(found)
  list(REMOVE_DUPLICATES found)
  string(REPLACE ";" "\n" found "${found}")
  message(FATAL_ERROR "The engine's library references the toolkit:\n${found}")
endif()
