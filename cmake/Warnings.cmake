# Strict warnings for the project's own targets; third-party headers come in as SYSTEM.
function(tessaly_strict target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()
