assembled output \(44 bytes, 9 instruction fragments, target x86-64\)
assemble_timings elapsed_ms=[0-9]+\.[0-9]{3} bytes=44 instruction_fragments=9 pending_fixups=0 target=x86-64
  phase=read_source elapsed_ms=[0-9]+\.[0-9]{3}
  phase=parse_lower elapsed_ms=[0-9]+\.[0-9]{3}
  phase=encode elapsed_ms=[0-9]+\.[0-9]{3}
  phase=fixup_resolve elapsed_ms=[0-9]+\.[0-9]{3}
  phase=layout elapsed_ms=[0-9]+\.[0-9]{3}
  phase=materialize elapsed_ms=[0-9]+\.[0-9]{3}
  phase=patch elapsed_ms=[0-9]+\.[0-9]{3}
  phase=defer_finalizers elapsed_ms=[0-9]+\.[0-9]{3}
  phase=write_output elapsed_ms=[0-9]+\.[0-9]{3}
  phase=write_listing elapsed_ms=[0-9]+\.[0-9]{3}
