# cmake -DBUILD_DIR=... -DWORK_DIR=... -DCONSUMER_SOURCE_DIR=... -P RunConsumer.cmake

function(run)
    execute_process(COMMAND ${ARGV} RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "Failed (${result}): ${ARGV}\n${output}")
    endif()
    set(last_output "${output}" PARENT_SCOPE)
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
run(${CMAKE_COMMAND} -S ${CONSUMER_SOURCE_DIR} -B ${WORK_DIR}/build -G Ninja -DCMAKE_PREFIX_PATH=${prefix})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run(${WORK_DIR}/build/consumer ${WORK_DIR}/run)
if(NOT last_output MATCHES "consumer.cpp\\([0-9]+\\): \\(TID 0x0000000000000007\\) .* \\[Error\\] - installed package works")
    message(FATAL_ERROR "Unexpected output of the consumer:\n${last_output}")
endif()

# The pkg-config file names the library and the header directory of the prefix.
find_program(PKG_CONFIG pkg-config)
if(PKG_CONFIG)
    set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig:${prefix}/lib/x86_64-linux-gnu/pkgconfig)
    run(${PKG_CONFIG} --define-prefix --cflags --libs ostrel-logging)
    if(NOT last_output MATCHES "-I${prefix}/include" OR NOT last_output MATCHES "-lOstrel.Logging")
        message(FATAL_ERROR "Unexpected pkg-config output: ${last_output}")
    endif()
endif()
