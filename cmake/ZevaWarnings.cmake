# Warnings apply to our own targets only; add_compile_options reaches every target below the root.
add_compile_options(-Wall -Wextra -Wformat=2 -Wno-format-nonliteral)
