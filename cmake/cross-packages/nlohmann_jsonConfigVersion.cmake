# The version of Debian's nlohmann-json3-dev as the build machine has it.
set(PACKAGE_VERSION 3.11.2)
if(PACKAGE_FIND_VERSION_MAJOR EQUAL 3)
    set(PACKAGE_VERSION_COMPATIBLE TRUE)
endif()
