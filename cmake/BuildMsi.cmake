# Builds the Windows installer package from wix/GleanerQt.wxs with wixl, then adds with msibuild what
# wixl 0.101 cannot express. Run as a script:
#   cmake -DSETTINGS=<build>/msi/settings.cmake -DVERSION=0.1 -DOUTPUT=<dir>/GleanerQt-0.1-x86.msi -P BuildMsi.cmake
# SETTINGS (written by Msi.cmake) sets WIXL, MSIBUILD, WIX_DIR, STAGE_DIR (the programs and DLLs in files/,
# stripped, and GleanerQt.ico), MANUFACTURER, DESCRIPTION and which DLLs are packaged (ZLIB, SHARED_RUNTIME); VERSION is the project's version, one to four numbers.
cmake_minimum_required(VERSION 3.25)
foreach(required SETTINGS VERSION OUTPUT)
    if(NOT DEFINED ${required})
        message(FATAL_ERROR "BuildMsi.cmake: -D${required}=... is missing")
    endif()
endforeach()
include(${SETTINGS})

# A package's version is major.minor.build[.revision], at most 255.255.65535.65535; Windows Installer
# compares the first three numbers only.
if(NOT VERSION MATCHES "^[0-9]+(\\.[0-9]+)?(\\.[0-9]+)?(\\.[0-9]+)?$")
    message(FATAL_ERROR "BuildMsi.cmake: '${VERSION}' is not a version of one to four numbers")
endif()
string(REPLACE "." ";" fields ${VERSION})
list(LENGTH fields count)
while(count LESS 3)
    list(APPEND fields 0)
    math(EXPR count "${count} + 1")
endwhile()
list(GET fields 0 major)
list(GET fields 1 minor)
list(GET fields 2 build)
if(major GREATER 255 OR minor GREATER 255 OR build GREATER 65535)
    message(FATAL_ERROR "BuildMsi.cmake: '${VERSION}' is beyond 255.255.65535, the largest package version")
endif()
list(JOIN fields . productVersion)

# The lowest version this package does not replace: the next build number (the Upgrade table's maximum is
# exclusive here, since wixl does not write IncludeMaximum).
if(build LESS 65535)
    math(EXPR build "${build} + 1")
elseif(minor LESS 255)
    math(EXPR minor "${minor} + 1")
    set(build 0)
elseif(major LESS 255)
    math(EXPR major "${major} + 1")
    set(minor 0)
    set(build 0)
else()
    message(FATAL_ERROR "BuildMsi.cmake: '${VERSION}' is the largest package version: none could replace it")
endif()
set(upgradeBelow ${major}.${minor}.${build})

set(defines -D ProductVersion=${productVersion} -D UpgradeBelow=${upgradeBelow} -D Manufacturer=${MANUFACTURER}
    -D Description=${DESCRIPTION} -D FilesDir=files -D Icon=GleanerQt.ico)
# Which DLLs go with the programs: 1 or 0 each.
foreach(define Zlib:ZLIB SharedRuntime:SHARED_RUNTIME)
    string(REPLACE ":" ";" define ${define})
    list(GET define 0 name)
    list(GET define 1 setting)
    if(${setting})
        list(APPEND defines -D ${name}=1)
    else()
        list(APPEND defines -D ${name}=0)
    endif()
endforeach()

# Built beside its destination and moved over it only when whole.
set(partial ${OUTPUT}.partial)
file(REMOVE ${partial})
# wixl finds the files it packages relative to its working directory only.
execute_process(COMMAND ${WIXL} --arch x86 ${defines} -o ${partial} ${WIX_DIR}/GleanerQt.wxs
    WORKING_DIRECTORY ${STAGE_DIR}
    RESULT_VARIABLE failed)
if(failed)
    file(REMOVE ${partial})
    message(FATAL_ERROR "BuildMsi.cmake: wixl failed (${failed})")
endif()

# What wixl 0.101 cannot say: HKMU is written as root 4 instead of -1; components have no conditions; there
# is no Environment table.
execute_process(COMMAND ${MSIBUILD} ${partial}
        -q "UPDATE `Registry` SET `Root` = -1 WHERE `Root` = 4"
        -q "UPDATE `Component` SET `Condition` = 'NOT ALLUSERS=1' WHERE `Component` = 'UserPath'"
        -q "UPDATE `Component` SET `Condition` = 'ALLUSERS=1' WHERE `Component` = 'MachinePath'"
        -i ${WIX_DIR}/Environment.idt
    RESULT_VARIABLE failed)
if(failed)
    file(REMOVE ${partial})
    message(FATAL_ERROR "BuildMsi.cmake: msibuild failed (${failed})")
endif()
file(RENAME ${partial} ${OUTPUT})
