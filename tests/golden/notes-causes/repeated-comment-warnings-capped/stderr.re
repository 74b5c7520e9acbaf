(main\.qov:\d+:1: warning: an instruction after ';' is a comment and is not assembled
main\.qov:\d+:1: note: 'addi a1, a1, 2' is left out; write it on a line of its own
){100}note: \.\.\. 5 more warnings "an instruction after ';' is a comment and is not assembled" left out; each warning is shown 100 times at most
