src/main\.qov:1:1: error: lowering failed: IncludeNotAvailable
src/main\.qov:1:1: note: 'parts/missing\.inc' was not found; searched src, /[^,]*/include, /[^,]*/include
