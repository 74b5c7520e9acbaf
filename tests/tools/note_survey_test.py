#!/usr/bin/env python3
"""Survey of refused sources: each mistake, written alone in a source, must be
refused with a located note ("<file>:<line>:<col>: note: ...") that names its
cause. Usage: note_survey_test.py <qovrin>"""
import os
import re
import subprocess
import sys
import tempfile

# (name, source, words the located note must hold, the line it stands at)
CASES = [
    ("meta underflow", "let a = 2\nlet b = 3\nlet x = a - b\n", "integer underflow: meta integers are unsigned", 3),
    ("data underflow", "dd(4 - 8)\n", "integer underflow", 1),
    ("meta overflow", "let x = 0xffffffffffffffff + 1\n", "integer overflow", 1),
    ("strings added", 'let s = "a" + "b"\n', "sym.join", 1),
    ("str.len", 'let n = str.len("abc")\n', "'str.len'", 1),
    ("fs.read", 'let t = fs.read("x.txt")\n', "'fs.read'", 1),
    ("map.of", "let m = map.of(1)\n", "'map.of'", 1),
    ("pad_to behind", "db(1, 2, 3, 4)\npad_to(2)\n", "stands at 4", 2),
    ("rb past the end", "db(1)\nrb(0xffffffffffffffff)\n", "stands at 1", 2),
    ("unknown literal field", "struct P {\n  x: u8\n}\nlet p = P { x: 1, z: 2 }\n", "'z' is not a field", 4),
    ("missing literal field", "struct P {\n  x: u8\n  y: u8\n}\nlet p = P { x: 1 }\n", "'y'", 5),
    ("literal value too wide", "struct P {\n  x: u8\n}\nlet p = P { x: 300 }\n", "300 does not fit field 'x'", 4),
    ("field of unknown type", "struct P {\n  x: u8\n  y: int\n}\n", "'int'", 3),
    ("const assigned", "const c = 1\nc = 2\n", "'c' is a const", 2),
    ("for over an integer", "for i in 5 {\n  db(i)\n}\n", "range(0, 5)", 1),
    ("value function count", "fn f(a: u64) -> u64 {\n  return a\n}\nlet x = f(1, 2)\n", "takes 1 argument, 2 given", 4),
    ("value function return", "fn f(a: u64) -> u64 {\n  let b = a\n}\nlet x = f(1)\n", "without 'return'", 4),
    ("type name int", "fn f(a: int) -> int {\n  return a\n}\nlet x = f(1)\n", "'int' is not a type name", 4),
    ("result too wide", "fn f(a: u64) -> u8 {\n  return a\n}\nlet x = f(300)\n", "300, which does not fit u8", 4),
    ("fn arity", "fn g(a) {\n  db(a)\n}\ng(1, 2)\n", "'g' takes 1 argument, 2 given", 4),
    ("statement function in an expression", "fn g(let a, b: u8) {\n  db(b)\n}\nlet x = g(1, 2) + 1\n",
     "'g' is a statement function, which gives no value; a function used in an expression is declared with a "
     "return type and ends in 'return': 'fn g(let a, b: u8) -> u64 {'", 4),
    ("missing map key", 'let m = map.new()\nlet v = map.get(m, "k")\n', "no key 'k'", 2),
    ("macro operand", "macro m(x) {\n  db(x)\n}\nm nothere\n", "'nothere' is not defined", 2),
    ("duplicate macro", "macro m(x) {\n  nop\n}\nmacro m(y) {\n  nop\n}\n", "first definition of 'm'", 1),
    ("include cycle", 'include("main.qov")\n', "includes 'main.qov' again", 1),
    ("unclosed virtual", "virtual.begin(0)\ndb(1)\n", "no virtual.end", 1),
    ("let in late_layout", "late_layout {\n  let x = 1\n}\n", "'let' is not allowed in a 'late_layout' block", 2),
    ("db in defer", "defer {\n  db(1)\n}\n", "'db' changes the layout", 2),
    ("for in defer", "defer {\n  for i in range(0, 2) {\n    print(i)\n  }\n}\n", "'while' is", 2),
    ("unclosed macro", "macro m(x) {\n  nop\n", "the 'macro' block", 1),
    ("defer on one line", "defer { print(1) }\n", "on lines of their own", 1),
    ("stray else", "if 1 == 1 {\n  db(1)\n}\n} else {\n  db(2)\n}\n", "follows no 'if'", 4),
    ("include of a folder", 'include("parts")\n', "is not a regular file but a folder", 1),
    ("emit.file of a folder", 'emit.file("parts")\n', "is not a regular file but a folder", 1),
    ("byte-order mark", "\ufeffx86.use64()\nnop\n", "\\xef\\xbb\\xbf", 1),
    ("long name", "emit.u8(" + "n" * 300 + " + 1)\n", "n" * 120 + "...'", 1),
    ("prefix of another mode", "x86.use32()\na64\n", "'a64' is a prefix valid only in 64-bit code", 2),
    ("call argument ends early", "db(0)\nemit.u8(1 +)\n", "'1 +' ends where a value must follow", 2),
    ("call closed twice", "emit.u8(1))\n", "this ')' closes no '('", 1),
    ("operand slice too long", "macro m(a) {\n  let s = operand.slice(a, 0, 10)\n}\nm abc\n",
     "does not lie inside the operand 'abc'", 2),
    ("push_mut in defer", "defer {\n  let l = list.new()\n  list.push_mut(l, 1)\n}\n", "only print, warn", 3),
    ("for over a map", "let m = map.new()\nfor k in m {\n  db(1)\n}\n", "map.keys(m)", 2),
    ("loop variable assigned", "for i in range(0, 2) {\n  i = 5\n}\n", "the variable of a 'for' loop", 2),
    ("macro parameter assigned", "macro m(a) {\n  a = 5\n}\nm 1\n", "'a' is a macro parameter", 2),
    ("else below its brace", "if 1 == 1 {\n  db(1)\n}\nelse {\n  db(2)\n}\n", "write '} else {'", 4),
    ("while against its paren", "let i = 0\nwhile(i < 2) {\n  i = i + 1\n}\n", "write 'while (i < 2) {'", 2),
    ("map.set as a statement", 'let m = map.new()\nmap.set(m, "k", 1)\n', "map.set_mut", 2),
    ("fill byte", "align(4, 256)\n", "256 does not fit the 8-bit fill byte of align", 1),
    ("emit.file window", 'emit.file("main.qov", 500, 1)\n', "does not lie inside 'main.qov'", 1),
    ("json.file", 'let j = json.file("main.qov")\n', "'json.file' stopped at line 1, column 1 of 'main.qov'", 1),
    ("late_layout virtual", "late_layout {\n  virtual.begin(0)\n}\n", "no virtual.end", 2),
    ("scoped late list", "fn f() {\n  let l = list.of(1)\n  late_layout {\n    db(len(l))\n  }\n}\nf()\n",
     "'l' is a list", 4),
    ("scoped defer literal", "struct P {\n  x: u8\n}\nfn f() {\n  defer {\n    let q = P { x: 1 }\n  }\n}\nf()\n",
     "a struct literal cannot be frozen", 6),
    ("let of type int", "let n: int = 5\n", "'int' is not a type name; the type names are", 1),
    ("for over a..b", "for k in 0..4 {\n  db(k)\n}\n", "write range(0, 4)", 1),
    ("number past 64 bits", "db(99999999999999999999)\n", "integers have at most 64 bits", 1),
    ("operator at the end", "let x = 1 +\n", "'1 +' ends with an operator", 1),
    ("comment after let", "let x = 1 // c\n", "cannot end with a comment", 1),
    ("comment after label", "a: // c\nnop\n", "a label line cannot end with a comment", 1),
    ("comment after header", "let c = 1\nif c == 1 { // c\n  db(1)\n}\n", "header line cannot end with a comment", 2),
    ("comment after '}'", "let c = 1\nif c == 1 {\n  db(1)\n} // end\n", "this '}' does not close the block", 4),
    ("emit.f32 of a literal", "emit.f32(1.5)\n", "1.5 is an f64; emit.f32 takes an f32: write f32(1.5)", 1),
    ("f32 let of a literal", "let f: f32 = 1.5\n", "'f' is declared f32: write f32(1.5)", 1),
    ("dd of a float", "dd(1.5)\n", "1.5 is an f64, and dd writes integers", 1),
    ("f32 of an integer", "let x = f32(1)\n", "1 is an integer, and f32(x) converts floats only: write f32(1.0)", 1),
    ("bytes.get", 'let b = b"ab"\nlet x = bytes.get(b, 0)\n', "'bytes.get'; the bytes builtins are bytes.new", 2),
    ("0x alone", "db(0x)\n", "'0x' does not read as a number: no digits follow '0x'", 1),
    ("0X alone", "let x = 0X\n", "no digits follow '0X'", 1),
    ("0xg", "let x = 0xg\n", "'g' is no hex digit", 1),
    ("0x1p", "let x = 0x1p\n", "'p' is no hex digit", 1),
    ("bare exponent", "let x = 1e\n", "no digits follow the exponent 'e'", 1),
    ("RISC-V 0xg", "riscv.use64()\naddi a0, a0, 0xg\n", "'g' is no hex digit", 2),
    ("RISC-V vector type of one word", "riscv.use64()\nvsetvli t0, a0, e8\n", "e8, m1, ta|tu, ma|mu", 2),
    ("RISC-V vector address with an offset", "riscv.use64()\nvle8.v v1, 0(a0)\n", "is written '(a0)'", 2),
    ("RISC-V operand that is no expression", "riscv.use64()\naddi a0, a0, @\n", "'@' is no operand", 2),
    ("RISC-V branch past the top", "riscv.use64()\norigin(0xfffffffffffffffc)\nback:\nnop\nj back\n",
     "which no address reaches", 5),
    ("underflow in defer", "defer {\n  print(to_string(1 - 2))\n}\n",
     "integer underflow: meta integers are unsigned (1 - 2)", 2),
    ("let parameter of a value function", "fn f(let l) -> u64 {\n  return 1\n}\n", "'l' is a 'let' parameter", 1),
    ("list printed in defer", "db(0)\nlet l = list.of(1)\ndefer {\n  print(l)\n}\n", "'l' is a list", 4),
    ("undefined name in defer", "db(0)\ndefer {\n  print(nosuch)\n}\n", "'nosuch' is not defined", 3),
    ("undefined name in an operand expression", "macro m(x) {\n  emit.u8(operand.eval(x) + 1)\n}\nm nothere + 1\n",
     "'nothere' is not defined (in the macro operand 'nothere + 1'", 2),
    ("assert in defer", "db(0)\ndefer {\n  assert(1 == 2)\n}\n", "in this defer block", 2),
    ("err in late_layout", 'db(0)\nlate_layout {\n  err("x")\n}\n', "in this late_layout block", 2),
    ("load outside the image", "db(0)\ndefer {\n  let x = load.u8(5)\n}\n",
     "address 0x5, outside the image, which holds 1 byte", 3),
    ("region.begin arity", "region.begin(0x8000)\n", "'region.begin' takes 3 arguments, 1 given", 1),
    ("call arity in defer", "db(0)\ndefer {\n  store.u8(0)\n}\n", "'store.u8' takes 2 arguments, 1 given", 3),
    ("call arity in late_layout", "db(0)\nlate_layout {\n  db()\n}\n", "'db' takes at least 1 argument, 0 given", 3),
    # Notes that pointed the wrong way.
    ("unknown call in late_layout", "db(0)\nlate_layout {\n  if 1 == 1 {\n    emit.u24(1)\n  }\n}\n",
     "there is no call named 'emit.u24'; the emit calls are emit.bytes", 4),
    ("unbound SPIR-V id", 'spv.use()\nOpCapability Shader\nOpEntryPoint Fragment %main "main"\n',
     "'OpEntryPoint Fragment %main \"main\"' uses the id %main, which no const binds", 3),
    ("SPIR-V id defined twice", "spv.use()\nOpCapability Shader\n%1 = OpTypeVoid\n%1 = OpTypeBool\n",
     "first definition of %1", 3),
    ("SPIR-V id no line defines", "spv.use()\nOpCapability Shader\nOpBranch %9\n",
     "'OpBranch %9' uses the id %9, which no line of the module defines", 3),
    ("SPIR-V comment after ';'", "spv.use()\nOpCapability Shader\nOpMemoryModel Logical GLSL450 ; the model\n",
     "';' does not start a comment here: only '//' ends an instruction line", 3),
    ("source function in instruction text",
     "riscv.use64()\nfn lo12(v: u64) -> u64 {\n  return v & 0xfff\n}\naddi a0, a0, lo12(5)\n",
     "instruction text substitutes values and builtin calls only", 5),
    ("sym.unique name as a jump target",
     'macro m() {\n  let done = sym.unique("done")\n  jmp done\n  label.define(done)\n}\nm\n',
     'isa(sym.join("jmp ", done))', 3),
    ("TOML hex past the signed range", 'let t = toml.parse("a = 0x8000000000000000")\n',
     "TOML integers are signed, and the largest is 9223372036854775807", 1),
    ("TOML hex past 64 bits", 'let t = toml.parse("a = 0x1_0000_0000_0000_0000")\n',
     "the number before here does not fit a 64-bit integer", 1),
    # Value builtins' arguments.
    ("value builtin count", 'let c = bytes.replace(b"abc", 0, b"x")\n',
     "'bytes.replace' takes 4 arguments, 3 given: bytes.replace(bytes, offset, count, with)", 1),
    ("list.slice past the end", "let l = list.of(1, 2, 3)\nlet s = list.slice(l, 1, 3)\n",
     "'list.slice' takes (list, start, count): 1 + 3 passes the end of a 3-element list", 2),
    ("list.get past the end", "let x = list.get(list.of(1), 5)\n", "index 5 is past the end of a 1-element list", 1),
    ("region builtin outside defer", "db(0)\nlet x = region_file_offset(0)\n", "only a 'defer' block sees", 2),
    ("region builtin count", "let x = region_file_offset()\n", "takes 1 argument, 0 given: region_file_offset(place)", 1),
    # Floats and family names in declarations and conditions.
    ("float in an integer let", "let x: u32 = 2.0\n", "'x' is declared u32, which holds integers: write 2", 1),
    ("float in a condition", "if 1.5 > 1 {\n  db(1)\n}\n", "mixes a float with an integer", 1),
    ("family name in a condition", 'let m = map.new()\nif map.contains(m, "k") {\n  db(1)\n}\n',
     "there is no builtin or function named 'map.contains'; the map builtins are", 2),
    ("f32 of a value too large", "let x = f32(1e40)\n", "past the largest finite f32", 1),
    ("f32 count", "let x = f32(1, 5)\n", "'f32' takes 1 argument, 2 given", 1),
    # Stores, value function lines, limits and data kinds.
    ("late_layout store outside", "nop\nlate_layout {\n  store.u16(0, 5)\n}\n",
     "'store.u16' writes 2 bytes at address 0x0, outside the 1 byte its section holds", 3),
    ("value function line without return", "fn f(x) -> u32 {\n  x + 1\n}\nlet y = f(1)\n",
     "write 'return x + 1'", 2),
    ("macro expansion limit", "macro m() {\n  nop\n}\nlet i = 0\nwhile i < 100001 {\n  m\n  i = i + 1\n}\n",
     "at most 100,000 times", 6),
    ("bytes.repeat too large", "let b = bytes.repeat(1 << 40, 0)\n", "a builtin's result holds at most", 1),
    ("data after a huge reservation", "rb(1 << 40)\ndb(1)\n", "the output already reaches file offset", 2),
    ("label past the address range", "origin(0xfffffffffffffff0)\nrb(0x20)\nL:\ndq(L)\n",
     "'L' lies past the end of the 64-bit address range", 4),
    ("boolean in data", "db(true)\n", "true is a boolean, and db writes integers and text", 1),
    ("text in word data", "dw('ab')\n", "only db writes text", 1),
    ("text in emit.u8", "emit.u8(',')\n", "only db writes text", 1),
    # x86 operands and the words before them.
    ("broadcast count", "vaddpd zmm1, zmm2, [rbx]{1to2}\n", "'{1to2}' is no broadcast of this operand, which takes "
     "{1to8} here", 1),
    ("empty operand", "add eax,, ebx\n", "an operand is empty", 1),
    ("control character in an operand", "add eax, \x01\n", "'\\x01' cannot stand in an operand", 1),
    ("size word before a branch", "x86.use32()\nL:\no16 jmp L\n", "name the operand's size instead, 'jmp word L'", 3),
    ("near before a pointer pair", "x86.use32()\njmp near 0x1234:0x5678\n", "which makes a far jump", 2),
    # Functions of the source called where they cannot be.
    ("source function in defer", "fn put(x) {\n  db(x)\n}\ndb(0)\ndefer {\n  put(2)\n}\n",
     "'put' is a function of the source, which a 'defer' block cannot call: it may call print, warn, err, assert", 6),
    ("source function in late_layout", "fn put(x) {\n  db(x)\n}\nlate_layout {\n  put(2)\n}\n",
     "'put' is a function of the source, which a 'late_layout' block cannot call", 5),
    ("statement function as an instruction", "fn g() {\n  nop\n}\ng\n",
     "'g' is a statement function, which is called with '()': write 'g()'", 4),
    ("macro used before its definition", "m 1\nmacro m(x) {\n  nop\n}\n",
     "'m' is a macro defined here, after the line that uses it", 2),
    # Limits that an expression's error name hides.
    ("value function past the call depth",
     "fn f(n) -> u64 {\n  if n == 0 {\n    return 0\n  }\n  return f(n - 1) + 1\n}\nlet x = f(200)\n",
     "'f' nests calls past the limit: functions and macros nest at most 128 calls deep", 5),
    ("value calls nested in arguments",
     "fn f(x) -> u64 {\n  return x\n}\nlet y = " + "f(" * 150 + "1" + ")" * 150 + "\n",
     "functions and macros nest at most 128 calls deep", 4),
    # Value builtins and floats in a defer block, as at top level.
    ("load.bytes count in defer", "db(0)\ndefer {\n  let x = load.bytes(0)\n}\n",
     "'load.bytes' takes 2 arguments, 1 given: load.bytes(place, count)", 3),
    ("load.u8 without a place in defer", "db(0)\ndefer {\n  let x = load.u8()\n}\n",
     "'load.u8' takes 1 argument, 0 given", 3),
    ("float stored in defer", "db(0, 0, 0, 0)\ndefer {\n  store.u32(0, 1.5)\n}\n",
     "1.5 is an f64, and store.u32 writes integers", 3),
    ("float as a store's place", "db(0, 0, 0, 0)\nstore.u32(1.5, 1)\n",
     "1.5 is an f64, and store.u32 writes at an address", 2),
    # Strings left open outside instruction lines.
    ("open string in a call argument", 'db(1)\nemit.u8(len("ab) + 1)\n', "is not closed on this line", 2),
    ("open string in let", 'let s = "abc\n', "is not closed on this line", 1),
    ("open string in print", 'print("done)\n', "is not closed on this line", 1),
    ("open string in isa", 'isa("nop)\n', "is not closed on this line", 1),
    ("open string in isa text", "isa(\"mov al, 'a\")\n", "of 'mov al, 'a' is not closed", 1),
    ("open string in a macro operand", 'macro m(x) {\n  db(operand.text(x))\n}\nm "abc\n',
     "is not closed on this line", 4),
    ("open string in an if condition", 'let a = 1\nif a == "x {\n  db(1)\n}\n', "is not closed on this line", 2),
    ("macro operands past the limit",
     "macro m(...xs) {\n  nop\n}\nm " + ", ".join(str(i) for i in range(257)) + "\n",
     "a macro takes at most 256 operands, and this line gives 257", 4),
]


def main():
    qovrin = os.path.abspath(sys.argv[1])
    failures = []
    for name, source, cause, line in CASES:
        with tempfile.TemporaryDirectory(prefix="qovrin-survey-") as work:
            os.mkdir(os.path.join(work, "parts"))
            with open(os.path.join(work, "parts", "keep.txt"), "w") as handle:
                handle.write("a folder, not a source\n")
            with open(os.path.join(work, "main.qov"), "w", encoding="utf-8") as handle:
                handle.write(source)
            run = subprocess.run([qovrin, "main.qov", "--no-progress", "-o", "out.bin"], cwd=work,
                                 capture_output=True, stdin=subprocess.DEVNULL, timeout=60)
            stderr = run.stderr.decode("utf-8", "replace")
            located = re.compile(r"^main\.qov:%d:\d+: note: .*%s" % (line, re.escape(cause)), re.M)
            if run.returncode != 1:
                failures.append("%s: status %d, not 1" % (name, run.returncode))
            elif not located.search(stderr):
                failures.append("%s: no note at line %d naming %r in:\n%s" % (name, line, cause, stderr))
            elif os.path.exists(os.path.join(work, "out.bin")):
                failures.append("%s: an output was written" % name)
    for failure in failures:
        print(failure)
    print("%d of %d mistakes have a located note naming their cause" % (len(CASES) - len(failures), len(CASES)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
