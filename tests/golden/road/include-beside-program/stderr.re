[^\n]*/tools/include/only-here\.inc:1:1: error: undefined name in this expression: from_program_folder
