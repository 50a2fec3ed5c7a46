# Builds the consumer application against the library and runs it, in one of these ways:
#   -DMODE=install        -DBUILD_DIR=...   installs that build tree into WORK_DIR/prefix, then find_package
#   -DMODE=prefix         -DPREFIX=...      find_package in an existing tree (the unpacked Debian packages)
#   -DMODE=add_subdirectory|FetchContent -DSOURCE_DIR=...   builds the library as part of the consumer
# always with -DWORK_DIR=... -DCONSUMER_SOURCE_DIR=...; install and prefix also build it with pkg-config.
#   cmake -DMODE=... ... -P RunConsumer.cmake

function(run)
    execute_process(COMMAND ${ARGV} RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "Failed (${result}): ${ARGV}\n${output}")
    endif()
    set(last_output "${output}" PARENT_SCOPE)
endfunction()

function(check_consumer_output program)
    file(REMOVE_RECURSE ${WORK_DIR}/run)
    run(${program} ${WORK_DIR}/run)
    if(NOT last_output MATCHES
       "consumer.cpp\\([0-9]+\\): \\(TID 0x0000000000000007\\) .* \\[Error\\] - installed package works")
        message(FATAL_ERROR "Unexpected output of ${program}:\n${last_output}")
    endif()
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
# Neither GoogleTest nor Google Benchmark may be needed to build the library into an application.
set(configure_options -G Ninja -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON
    -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON)

if(MODE STREQUAL "install")
    set(PREFIX ${WORK_DIR}/prefix)
    run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX})
endif()
if(MODE STREQUAL "install" OR MODE STREQUAL "prefix")
    # The Debian packages' library finds its sibling through the system's library path, here this one.
    file(GLOB libdir LIST_DIRECTORIES true ${PREFIX}/lib ${PREFIX}/lib/*-linux-gnu)
    list(JOIN libdir ":" library_path)
    set(ENV{LD_LIBRARY_PATH} "${library_path}")
    list(APPEND configure_options -DOZR_CONSUME=find_package -DCMAKE_PREFIX_PATH=${PREFIX})
elseif(MODE STREQUAL "add_subdirectory" OR MODE STREQUAL "FetchContent")
    list(APPEND configure_options -DOZR_CONSUME=${MODE} -DOZR_SOURCE_DIR=${SOURCE_DIR})
else()
    message(FATAL_ERROR "MODE: unknown \"${MODE}\"")
endif()

run(${CMAKE_COMMAND} -S ${CONSUMER_SOURCE_DIR} -B ${WORK_DIR}/build ${configure_options})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
check_consumer_output(${WORK_DIR}/build/consumer)

# The pkg-config file gives everything needed to compile and link against the prefix.
if(MODE STREQUAL "install" OR MODE STREQUAL "prefix")
    find_program(PKG_CONFIG pkg-config REQUIRED)
    list(TRANSFORM libdir APPEND /pkgconfig OUTPUT_VARIABLE pkgconfig_path)
    list(JOIN pkgconfig_path ":" pkgconfig_path)
    set(ENV{PKG_CONFIG_PATH} "${pkgconfig_path}")
    run(${PKG_CONFIG} --cflags --libs ostrel-logging)
    if(NOT last_output MATCHES "-I[^ ]*/include" OR NOT last_output MATCHES "-lOstrel.Logging")
        message(FATAL_ERROR "Unexpected pkg-config output: ${last_output}")
    endif()
    string(STRIP "${last_output}" flags)
    separate_arguments(flags UNIX_COMMAND "${flags}")
    find_program(CXX NAMES c++ g++ REQUIRED)
    run(${CXX} -std=c++17 -Wall -Wextra -Werror ${CONSUMER_SOURCE_DIR}/consumer.cpp ${flags}
        -o ${WORK_DIR}/consumer-pkg-config)
    check_consumer_output(${WORK_DIR}/consumer-pkg-config)
endif()
