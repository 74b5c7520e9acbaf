"""Walking the byte-code programs of the x86 database: which bytes are codes
and which are the payload a code carries."""


def payload_length(code):
    if 0o1 <= code <= 0o4:
        return code
    if 0o10 <= code <= 0o13 or 0o171 <= code <= 0o173:
        return 1
    if 0o240 <= code <= 0o243 or code == 0o250:
        return 4
    if 0o260 <= code <= 0o263 or code == 0o270 or 0o304 <= code <= 0o307:
        return 2
    return 0


def code_positions(program):
    """Positions of the codes of a program up to its terminator."""
    positions = []
    position = 0
    while position < len(program) and program[position] != 0:
        positions.append(position)
        position += 1 + payload_length(program[position])
    return positions


def program_codes(program):
    """The codes of a program up to its terminator, payload bytes skipped."""
    return [program[position] for position in code_positions(program)]
