# Copies the web pages (the folder SOURCE) into DESTINATION, beside the
# window's executable; app/CMakeLists.txt runs it on every build:
#
#   cmake -DSOURCE=<pages> -DDESTINATION=<folder> -P copy_web.cmake
#
# Copies nothing when SOURCE does not exist.
if(EXISTS "${SOURCE}")
  file(COPY "${SOURCE}/" DESTINATION "${DESTINATION}")
endif()
