main\.qov:1:1: error: lowering failed: IncludeNotAvailable
main\.qov:1:1: note: 'missing\.inc' was not found; searched \., /[^,]*/include, /[^,]*/include
