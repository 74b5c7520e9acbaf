"""Corrections the x86 table generator makes to database rows whose own data
contradicts them, each decided by a rule over the row's operands and byte
code rather than by mnemonic:

- EVEX compressed displacements: the tuple type must scale a displacement by
  the bytes the memory operand really has, the broadcast element with a
  broadcast. The database tags many half-precision rows as if their elements
  were 32 or 64 bits wide, and leaves a few vector rows without a tuple, as
  if their displacements were never scaled.
- EVEX broadcasts: a broadcast element of 32 or 64 bits is the one EVEX.W
  selects, whatever width the row claims.
- Opcodes: a later family of a mnemonic that repeats an earlier one in all
  but the opcode is a mistaken copy; its rows take the earlier opcode, so a
  short form only the copy offers writes the instruction its name says.
- Register operand sizes: a register must not fall onto a row that leaves
  the operand size to the mode when a later row of the same operands writes
  the size the register has.
"""

from table_codegen import DataError, require
from x86_program import code_positions, payload_length, program_codes

TUPLE_BASE = 0o300
# Tuple codes past the published ones, for vectors of 16-bit elements: a
# broadcast reads one such element.
FULL_VECTOR_16 = 17
HALF_VECTOR_16 = 18
QUARTER_VECTOR_16 = 19
TUPLE_COUNT = 20

TUPLE_NAMES = {0: "none", 1: "full vector", 2: "half vector", 3: "full mem", 4: "tuple1 scalar 8-bit",
               5: "tuple1 scalar 16-bit", 6: "tuple1 scalar", 7: "tuple1 fixed 32-bit",
               8: "tuple1 fixed 64-bit", 9: "tuple2", 10: "tuple4", 11: "tuple8", 12: "half mem",
               13: "quarter mem", 14: "eighth mem", 15: "mem128", 16: "movddup",
               FULL_VECTOR_16: "full vector 16-bit", HALF_VECTOR_16: "half vector 16-bit",
               QUARTER_VECTOR_16: "quarter vector 16-bit"}

CLASS_REGISTER = 1 << 0
CLASS_REGISTER_OR_MEMORY = 1 << 2
CLASS_MEMORY = 1 << 3
VECTOR_INDEX = 0x7 << 20
VECTOR_REGISTERS = 0x7 << 12
# Set on every address and on registers numbered below 16.
REGISTER_BELOW_16 = 1 << 28
SIZE_BITS = 0xF0FF_0000_0000
SIZE_BYTES = {32: 1, 33: 2, 34: 4, 35: 8, 36: 10, 37: 16, 38: 32, 39: 64}
DECORATOR_BROADCAST = 1 << 5
# The decorator's element-size bits (bits 8-11, shifted down) of a 16-, 32-
# and 64-bit broadcast.
BROADCAST_WORD = 1 << 1
BROADCAST_DWORD = 1 << 2
BROADCAST_QWORD = 1 << 3
BROADCAST_ELEMENT = 0xF << 8

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


def evex_w(program, position):
    """EVEX.W of the row whose tuple byte stands at position."""
    return program[position - 2] >> 7 & 1


def vector_row(template, operand_words):
    return any(operand_words[template["operands"][slot]] & VECTOR_REGISTERS for slot in range(template["opcount"]))


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
    # Rows of general-purpose and mask operands leave displacements unscaled;
    # a vector row without a tuple is a gap in the database.
    if tuple_code == 0 and not vector_row(template, operand_words):
        return tuple_code
    payload = template["program"][position - 3:position]
    w, ll = payload[1] >> 7 & 1, payload[2] >> 5 & 3
    plain, element = wanted_disp8(template, operand_words, decorator_words)
    if tuple_code == 0:
        slot = memory_slot(template, operand_words)
        if slot is None:
            return tuple_code
        plain = single_size(operand_words[template["operands"][slot]])
        require(plain is not None, "a vector row without a tuple type and of no one memory size")

    def fits(code):
        return ((plain is None or disp8_bytes(code, w, ll, False) == plain)
                and (element is None or disp8_bytes(code, w, ll, True) == element))

    if tuple_code != 0 and fits(tuple_code):
        return tuple_code
    candidates = (VECTOR_TUPLES if element else
                  ([1] if tuple_code == 0 else []) + ([FIXED_TUPLES[plain]] if plain in FIXED_TUPLES else []))
    chosen = next((code for code in candidates if fits(code)), None)
    require(chosen is not None, f"no tuple type gives N={plain} and a broadcast N={element}")
    return chosen


def correct_tuples(templates, operand_words, decorator_words):
    """Rewrites the tuple byte of every EVEX row whose tuple contradicts its
    memory operand, or that has none though it reads vectors. Returns
    (row, what changed) for each row changed."""
    changes = []
    for row, template in enumerate(templates):
        try:
            code = correct_tuple(template, operand_words, decorator_words)
        except DataError as error:
            raise DataError(f"templates.tsv row {row}: {error}") from error
        if code is None:
            continue
        position = evex_setup(template["program"])
        before = template["program"][position] - TUPLE_BASE
        if code != before:
            changes.append((row, f"tuple {TUPLE_NAMES[before]} -> {TUPLE_NAMES[code]}"))
        template["program"][position] = TUPLE_BASE + code
    return changes


def correct_broadcast_sizes(templates, decorator_words):
    """A 32- or 64-bit broadcast element is the one EVEX.W selects: a row that
    claims the other width takes the decorator row of the right one. Returns
    (row, what changed) for each row changed."""
    rows_by_word = {}
    for row, word in enumerate(decorator_words):
        rows_by_word.setdefault(word, row)
    names = {BROADCAST_DWORD: "32-bit", BROADCAST_QWORD: "64-bit"}
    changes = []
    for row, template in enumerate(templates):
        position = evex_setup(template["program"])
        if position is None:
            continue
        wanted = BROADCAST_QWORD if evex_w(template["program"], position) else BROADCAST_DWORD
        for slot in range(template["opcount"]):
            word = decorator_words[template["decorators"][slot]]
            element = (word & BROADCAST_ELEMENT) >> 8
            if not word & DECORATOR_BROADCAST or element not in names or element == wanted:
                continue
            right = word & ~BROADCAST_ELEMENT | wanted << 8
            require(right in rows_by_word, f"templates.tsv row {row}: no decorator word {right:#x} for a "
                    f"{names[wanted]} broadcast")
            template["decorators"][slot] = rows_by_word[right]
            changes.append((row, f"broadcast {names[element]} -> {names[wanted]}"))
    return changes


def opcode_split(program):
    """The program with its literal opcode bytes left out, and those bytes."""
    rest, opcode = [], []
    for position in code_positions(program):
        code = program[position]
        if 0o1 <= code <= 0o4:
            rest.append(code)
            opcode.extend(program[position + 1:position + 1 + code])
        else:
            rest.extend(program[position:position + 1 + payload_length(code)])
    return tuple(rest), tuple(opcode)


def hex_bytes(values):
    return " ".join(f"{value:02x}" for value in values)


def correct_opcode_copies(templates, mnemonics):
    """Within a mnemonic, a family (the rows of one database line) with a row
    that equals a row of an earlier family in all but the opcode repeats that
    family with a wrong opcode: the processor gives one operation one opcode.
    Its rows take the earlier opcode; where the earlier family has the same
    form, the copy is never reached, and a form only the copy has writes the
    right bytes. Returns (row, what changed) for each row changed."""
    changes = []
    for mnemonic in mnemonics:
        rows = range(mnemonic["first"], mnemonic["first"] + mnemonic["count"])
        first_of_shape = {}
        right_opcode = {}
        for row in rows:
            template = templates[row]
            rest, opcode = opcode_split(template["program"])
            shape = (template["opcount"], tuple(template["operands"]), tuple(template["decorators"]),
                     template["iflags"], rest)
            family, earlier = first_of_shape.setdefault(shape, (template["family"], opcode))
            if family != template["family"] and earlier != opcode:
                fix = right_opcode.setdefault(template["family"], (opcode, earlier))
                require(fix == (opcode, earlier), f"templates.tsv row {row}: the family of database line "
                        f"{template['family']} repeats earlier rows with two opcodes")
        for row in rows:
            template = templates[row]
            if template["family"] not in right_opcode:
                continue
            wrong, right = right_opcode[template["family"]]
            require(opcode_split(template["program"])[1] == wrong,
                    f"templates.tsv row {row}: a row of a copied family with another opcode")
            for position in code_positions(template["program"]):
                code = template["program"][position]
                if 0o1 <= code <= 0o4:
                    template["program"][position + 1:position + 1 + code] = right[:code]
                    right = right[code:]
            changes.append((row, f"opcode {hex_bytes(wrong)} -> {hex_bytes(opcode_split(template['program'])[1])}"))
    return changes


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
    one). Returns (row, what changed) for each row changed."""
    changes = []
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
                    changes.append((row, f"operand {slot} memory only"))
            if codes == [O64_NO_REX_W] and any(
                    templates[later]["operands"] == template["operands"] and size_codes(templates[later]) == [O64]
                    for later in range(row + 1, end)):
                for position in code_positions(template["program"]):
                    if template["program"][position] == O64_NO_REX_W:
                        template["program"][position] = O64
                changes.append((row, "o64nw -> o64"))
    return changes
