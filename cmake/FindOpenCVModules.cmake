# Finds the OpenCV module libraries installed from Debian's per-module -dev
# packages. Those packages ship headers and libraries but no CMake package
# configuration (only the libopencv-dev meta package does), so each module is
# located here and exposed as an imported target opencv::<module>.
find_path(OpenCV_INCLUDE_DIR opencv2/core.hpp PATH_SUFFIXES opencv4 REQUIRED)

foreach(module IN LISTS OpenCVModules_FIND_COMPONENTS)
  find_library(OpenCV_${module}_LIBRARY NAMES opencv_${module} REQUIRED)
  if(NOT TARGET opencv::${module})
    add_library(opencv::${module} UNKNOWN IMPORTED)
    set_target_properties(opencv::${module} PROPERTIES
      IMPORTED_LOCATION "${OpenCV_${module}_LIBRARY}"
      INTERFACE_INCLUDE_DIRECTORIES "${OpenCV_INCLUDE_DIR}")
  endif()
endforeach()
set(OpenCVModules_FOUND TRUE)
