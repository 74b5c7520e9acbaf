assembled output \(0 bytes, 0 instruction fragments, target x86\)
assemble_timings elapsed_ms=[0-9]+\.[0-9]{3} bytes=0 instruction_fragments=0 pending_fixups=0 target=x86
