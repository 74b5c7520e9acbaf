main\.qov:1:1: error: lowering failed: FileNotAvailable
main\.qov:1:1: note: 'nothing\.txt' was not found; searched \., /[^,]*/include, /[^,]*/include
