[^\n]*/include/lib/b\.inc:2:1: error: undefined name in this expression: missing
