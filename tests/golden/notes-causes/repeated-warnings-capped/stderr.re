(main\.qov:3:3: warning: again
main\.qov:4:3: note: \d+
){100}main\.qov:4:3: note: 100
main\.qov:4:3: note: 101
main\.qov:4:3: note: 102
main\.qov:7:1: warning: once
note: \.\.\. 3 more warnings "again" left out; each warning is shown 100 times at most
