# Compiler settings shared by every target the project builds.

if(OZR_SANITIZE)
    list(JOIN OZR_SANITIZE "," _ozr_sanitizers)
    add_compile_options(-fsanitize=${_ozr_sanitizers} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${_ozr_sanitizers})
endif()

# Strict warnings, as errors, for the project's own code.
function(ozr_set_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
endfunction()
