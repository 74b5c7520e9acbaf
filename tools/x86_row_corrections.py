"""Corrections the x86 table generator makes to database rows whose own data
contradicts them, each decided by a rule over the row's operands and byte
code rather than by mnemonic:

- EVEX compressed displacements: the tuple type must scale a displacement by
  the bytes the memory operand really has, the broadcast element with a
  broadcast. The database tags many half-precision rows as if their elements
  were 32 or 64 bits wide.
- Register operand sizes: a register must not fall onto a row that leaves
  the operand size to the mode when a later row of the same operands writes
  the size the register has.
"""

from table_codegen import DataError, require
from x86_program import code_positions, program_codes

TUPLE_BASE = 0o300
# Tuple codes past the published ones, for vectors of 16-bit elements: a
# broadcast reads one such element.
FULL_VECTOR_16 = 17
HALF_VECTOR_16 = 18
QUARTER_VECTOR_16 = 19
TUPLE_COUNT = 20

CLASS_REGISTER = 1 << 0
CLASS_REGISTER_OR_MEMORY = 1 << 2
CLASS_MEMORY = 1 << 3
VECTOR_INDEX = 0x7 << 20
# Set on every address and on registers numbered below 16.
REGISTER_BELOW_16 = 1 << 28
SIZE_BITS = 0xF0FF_0000_0000
SIZE_BYTES = {32: 1, 33: 2, 34: 4, 35: 8, 36: 10, 37: 16, 38: 32, 39: 64}
DECORATOR_BROADCAST = 1 << 5
# The decorator's element-size bit of a 16-bit broadcast.
BROADCAST_WORD = 1 << 1

EVEX_CODES = {0o240, 0o241, 0o242, 0o243, 0o250}
# Operand-size codes: o16, o32, o64 (REX.W) and o64nw (no REX.W).
SIZE_CODES = {0o320, 0o321, 0o324, 0o323}
O64 = 0o324
O64_NO_REX_W = 0o323


def disp8_bytes(tuple_code, w, ll, broadcast):
    """N of a compressed displacement, as the encoder computes it."""
    if tuple_code in (1, 2):
        return (8 if w else 4) if broadcast else (16 if tuple_code == 1 else 8) << ll
    if tuple_code in (FULL_VECTOR_16, HALF_VECTOR_16, QUARTER_VECTOR_16):
        return 2 if broadcast else {FULL_VECTOR_16: 16, HALF_VECTOR_16: 8, QUARTER_VECTOR_16: 4}[tuple_code] << ll
    fixed = {4: 1, 5: 2, 6: 8 if w else 4, 7: 4, 8: 8, 9: 16 if w else 8, 10: 32 if w else 16,
             11: 64 if w else 32, 12: 8 << ll, 13: 4 << ll, 14: 2 << ll, 15: 16,
             16: (8, 32, 64, 64)[ll]}
    return fixed.get(tuple_code, 1)


# Replacement tuples: one scaling by a fixed size for a row without a
# broadcast, one scaling by the vector length otherwise.
FIXED_TUPLES = {1: 4, 2: 5, 4: 7, 8: 8, 16: 15}
VECTOR_TUPLES = (1, 2, FULL_VECTOR_16, HALF_VECTOR_16, QUARTER_VECTOR_16)


def single_size(word):
    size = word & SIZE_BITS
    if size == 0 or size & (size - 1):
        return None
    return SIZE_BYTES.get(size.bit_length() - 1)


def evex_setup(program):
    """Position of the EVEX code's tuple byte, or None for a row without one."""
    return next((position + 4 for position in code_positions(program) if program[position] in EVEX_CODES), None)


def memory_slot(template, operand_words):
    """The one slot that may be memory (not a vector-index address), or None."""
    slots = [slot for slot in range(template["opcount"])
             if (operand_words[template["operands"][slot]] & CLASS_MEMORY
                 or operand_words[template["operands"][slot]] & (CLASS_REGISTER_OR_MEMORY | CLASS_REGISTER)
                 == CLASS_REGISTER_OR_MEMORY)]
    if len(slots) != 1 or operand_words[template["operands"][slots[0]]] & VECTOR_INDEX:
        return None
    return slots[0]


def wanted_disp8(template, operand_words, decorator_words):
    """(N without a broadcast or None for any, N with one or None) that the
    memory operand's data asks for. A row that broadcasts is a vector row:
    its operand is read whole, or one element with a broadcast; W tells a
    32-bit element from a 64-bit one, but not a 16-bit one. An operand
    narrower than a 128-bit register is one scalar (or a packed group read
    whole). Wider operands without a broadcast (compress, expand) keep their
    tuple, whose N may be an element."""
    slot = memory_slot(template, operand_words)
    if slot is None:
        return None, None
    size = single_size(operand_words[template["operands"][slot]])
    decorator = decorator_words[template["decorators"][slot]]
    broadcasts = bool(decorator & DECORATOR_BROADCAST)
    element = 2 if broadcasts and (decorator >> 8) & 0xF == BROADCAST_WORD else None
    if broadcasts or (size is not None and size < 16):
        return size, element
    return None, None


def correct_tuple(template, operand_words, decorator_words):
    """The tuple code the row needs; its own when that already fits."""
    position = evex_setup(template["program"])
    if position is None:
        return None
    tuple_code = template["program"][position] - TUPLE_BASE
    if tuple_code == 0:
        return tuple_code
    payload = template["program"][position - 3:position]
    w, ll = payload[1] >> 7 & 1, payload[2] >> 5 & 3
    plain, element = wanted_disp8(template, operand_words, decorator_words)

    def fits(code):
        return ((plain is None or disp8_bytes(code, w, ll, False) == plain)
                and (element is None or disp8_bytes(code, w, ll, True) == element))

    if fits(tuple_code):
        return tuple_code
    candidates = VECTOR_TUPLES if element else [FIXED_TUPLES[plain]] if plain in FIXED_TUPLES else []
    chosen = next((code for code in candidates if fits(code)), None)
    require(chosen is not None, f"no tuple type gives N={plain} and a broadcast N={element}")
    return chosen


def correct_tuples(templates, operand_words, decorator_words):
    """Rewrites the tuple byte of every EVEX row whose tuple contradicts its
    memory operand."""
    for row, template in enumerate(templates):
        try:
            code = correct_tuple(template, operand_words, decorator_words)
        except DataError as error:
            raise DataError(f"templates.tsv row {row}: {error}") from error
        if code is not None:
            template["program"][evex_setup(template["program"])] = TUPLE_BASE + code


def size_codes(template):
    return [code for code in program_codes(template["program"]) if code in SIZE_CODES]


def same_but(first, second, slot):
    return first["opcount"] == second["opcount"] and all(
        (first["operands"][other], first["decorators"][other])
        == (second["operands"][other], second["decorators"][other])
        for other in range(first["opcount"]) if other != slot)


def register_rows_after(templates, row, slot, operand_words, end):
    """Later rows of the run that take a register of the size this row's slot
    names in the same slot, the other operands alike."""
    word = operand_words[templates[row]["operands"][slot]]
    for later in range(row + 1, end):
        other = operand_words[templates[later]["operands"][slot]]
        if (same_but(templates[row], templates[later], slot) and other & CLASS_REGISTER
                and other & SIZE_BITS == word & SIZE_BITS and not (other & ~word & ~SIZE_BITS & ~CLASS_REGISTER)):
            yield later


def keep_register_sizes(templates, mnemonics, operand_words, operand_rows_by_word):
    """A register-or-memory slot of a row without an operand-size code becomes
    memory only when a later register row of the same size writes one; an
    o64nw row writes REX.W when a later row of the same operands does (the
    instruction is not 64-bit by default, so without REX.W it is the 32-bit
    one)."""
    for mnemonic in mnemonics:
        end = mnemonic["first"] + mnemonic["count"]
        for row in range(mnemonic["first"], end):
            template = templates[row]
            codes = size_codes(template)
            for slot in range(template["opcount"]):
                word = operand_words[template["operands"][slot]]
                if word & (CLASS_REGISTER | CLASS_REGISTER_OR_MEMORY) != CLASS_REGISTER_OR_MEMORY or codes:
                    continue
                later_rows = register_rows_after(templates, row, slot, operand_words, end)
                if any(size_codes(templates[later]) for later in later_rows):
                    memory = word & (SIZE_BITS | REGISTER_BELOW_16) | CLASS_MEMORY | CLASS_REGISTER_OR_MEMORY
                    require(memory in operand_rows_by_word,
                            f"templates.tsv row {row}: no memory operand word {memory:#x} to narrow slot {slot} to")
                    template["operands"][slot] = operand_rows_by_word[memory]
            if codes == [O64_NO_REX_W] and any(
                    templates[later]["operands"] == template["operands"] and size_codes(templates[later]) == [O64]
                    for later in range(row + 1, end)):
                for position in code_positions(template["program"]):
                    if template["program"][position] == O64_NO_REX_W:
                        template["program"][position] = O64
