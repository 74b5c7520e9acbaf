main\.qov:1:1: error: lowering failed: FileNotAvailable
main\.qov:1:1: note: 'missing\.bin' was not found; searched \., /[^,]*/include, /[^,]*/include
