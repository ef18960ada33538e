# SPDX-License-Identifier: GPL-3.0-or-later

# Runs at install time (from cmake_install.cmake): writes the desktop entry with
# the installed program's absolute path in its Exec and TryExec lines and
# installs it, then refreshes an icon cache if the theme folder has one.
#
# Set by the install code before this script: STOCKBOOK_DESKTOP_TEMPLATE,
# STOCKBOOK_DESKTOP_STAGING, STOCKBOOK_PROGRAM_DIR, STOCKBOOK_APPLICATIONS_DIR,
# STOCKBOOK_ICON_THEME_DIR. CMAKE_INSTALL_PREFIX is the prefix of this install.

function(stockbook_absolute_path out path)
    if(IS_ABSOLUTE "${path}")
        set(${out} "${path}" PARENT_SCOPE)
    else()
        set(${out} "${CMAKE_INSTALL_PREFIX}/${path}" PARENT_SCOPE)
    endif()
endfunction()

# The program's path as one argument of an Exec line: double-quoted when it
# holds a character that the desktop entry format reserves, with ", `, $ and \
# escaped inside the quotes; then every \ doubled (the format's string escape)
# and every % doubled (it would start a field code).
function(stockbook_exec_argument out path)
    if(path MATCHES "[ \t\"'\\\\<>~|&;$*?#()`]")
        string(REPLACE "\\" "\\\\" path "${path}")
        string(REPLACE "\"" "\\\"" path "${path}")
        string(REPLACE "`" "\\`" path "${path}")
        string(REPLACE "$" "\\$" path "${path}")
        set(path "\"${path}\"")
    endif()
    string(REPLACE "\\" "\\\\" path "${path}")
    string(REPLACE "%" "%%" path "${path}")
    set(${out} "${path}" PARENT_SCOPE)
endfunction()

stockbook_absolute_path(program_dir "${STOCKBOOK_PROGRAM_DIR}")
set(program "${program_dir}/stockbook")
if(program MATCHES "[\r\n]")
    message(FATAL_ERROR "The program path holds a line break: ${program}")
endif()

stockbook_exec_argument(STOCKBOOK_DESKTOP_EXEC "${program}")
string(REPLACE "\\" "\\\\" STOCKBOOK_DESKTOP_TRYEXEC "${program}")

file(READ "${STOCKBOOK_DESKTOP_TEMPLATE}" entry)
string(CONFIGURE "${entry}" entry @ONLY)
file(MAKE_DIRECTORY "${STOCKBOOK_DESKTOP_STAGING}")
file(WRITE "${STOCKBOOK_DESKTOP_STAGING}/stockbook.desktop" "${entry}")

stockbook_absolute_path(applications_dir "${STOCKBOOK_APPLICATIONS_DIR}")
# file(INSTALL) adds DESTDIR and records the file in the install manifest.
file(INSTALL DESTINATION "${applications_dir}" TYPE FILE
     FILES "${STOCKBOOK_DESKTOP_STAGING}/stockbook.desktop")

# Desktops rescan the theme folders by themselves unless the theme carries a
# cache (system-wide themes do); a stale cache would hide the new icon.
stockbook_absolute_path(theme_dir "${STOCKBOOK_ICON_THEME_DIR}")
set(theme_dir "$ENV{DESTDIR}${theme_dir}")
find_program(STOCKBOOK_ICON_CACHE_TOOL gtk-update-icon-cache)
if(EXISTS "${theme_dir}/icon-theme.cache" AND STOCKBOOK_ICON_CACHE_TOOL)
    execute_process(COMMAND "${STOCKBOOK_ICON_CACHE_TOOL}" --quiet --force "${theme_dir}")
endif()
