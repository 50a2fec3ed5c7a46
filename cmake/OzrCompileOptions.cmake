# Compiler settings shared by every target the project builds.

if(OZR_SANITIZE)
    list(JOIN OZR_SANITIZE "," _ozr_sanitizers)
    add_compile_options(-fsanitize=${_ozr_sanitizers} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${_ozr_sanitizers})
    if("thread" IN_LIST OZR_SANITIZE)
        # g++ 12 warns that ThreadSanitizer does not model the fences Boost.Asio uses; that is Asio's.
        add_compile_options(-Wno-error=tsan -Wno-tsan)
    endif()
endif()

# Coverage for libFuzzer in every target; the fuzz targets add the fuzzer's main.
if(OZR_BUILD_FUZZERS)
    add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# Strict warnings, as errors, for the project's own code.
function(ozr_set_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
    if(OZR_THREAD_SAFETY_ANALYSIS)
        target_compile_options(${target} PRIVATE -Wthread-safety -Wthread-safety-beta)
    endif()
endfunction()
