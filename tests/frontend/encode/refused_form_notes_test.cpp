#include "frontend/encode/refused_form_notes.hpp"

#include <gtest/gtest.h>

#include <string_view>

namespace {

using frontend::target::Target;

struct Refusal {
  Target target;
  std::string_view line;
  std::string_view note;  // empty: the encoder knows no more than its error
};

std::string noteOf(const Refusal& refusal) {
  frontend::fragment::Instruction line;
  line.setText(refusal.line);
  line.target = refusal.target;
  return frontend::pass::encodeFailureNote(line).value_or("");
}

void expectNotes(std::initializer_list<Refusal> refusals) {
  for (const Refusal& refusal : refusals)
    EXPECT_EQ(noteOf(refusal), refusal.note) << refusal.line << " at " << refusal.target.parameter << " bits";
}

TEST(RefusedFormNotes, RiscvSaysWhichPartFailed) {
  const Target rv64 = Target::riscv(64);
  const Target rv32 = Target::riscv(32);
  expectNotes({
      {rv64, "beq a0, a1, 3", "offset 3 is not a multiple of 2"},
      {rv64, "c.j 3", "offset 3 is not a multiple of 2"},
      {rv64, "c.lwsp a0, 6", "offset 6 is not a multiple of 4"},
      {rv64, "c.lui a0, 4097", "4097 is not a multiple of 4096"},
      {rv64, "c.lwsp a0, 256", "offset 256 is out of range: 'c.lwsp' takes 0 to 252, a multiple of 4"},
      {rv64, "c.ld a0, 256(a1)", "offset 256 is out of range: 'c.ld' takes 0 to 248, a multiple of 8"},
      {rv64, "c.lui a0, 131072",
       "131072 is out of range: 'c.lui' takes -131072 to 126976, a non-zero multiple of 4096"},
      {rv64, "c.addi4spn a0, 0", "0 is out of range: 'c.addi4spn' takes 4 to 1020, a non-zero multiple of 4"},
      {rv64, "c.beqz a0, -258", "offset -258 is out of range: 'c.beqz' takes -256 to 254, a multiple of 2"},
      {rv64, "c.slli a0, 64", "64 does not fit the 6-bit unsigned immediate"},
      {rv64, "c.and a6, a0", "'c.and' takes x8-x15 here, not 'a6' (x16)"},
      {rv64, "c.lw a0, 4(x16)", "'c.lw' takes x8-x15 here, not x16"},
      {rv64, "c.mv a0, x0", "'c.mv' cannot take x0 here"},
      {rv64, "c.lui sp, 4096", "'c.lui' cannot take x0 or x2 (sp) here"},
      {rv32, "ld a1, 0(a0)", "'ld' takes an even register here, the first of a pair, not 'a1' (x11)"},
      {rv64, "addi a0, 5, a0", "'5' is a value, but 'addi' takes a register (rs1) here"},
      {rv64, "beq a0, a1, F30", "'F30' reads as a register, but 'beq' takes a value (offset) here"},
      {rv32, "addiw a0, a0, 1", "'addiw' is RV64 only"},
      {rv32, "c.slli a0, 1", "'c.slli' is RV64 only; write c.slli.rv32 on RV32"},
      {rv64, "c.jal 4", "'c.jal' is RV32 only"},
      {rv64, "add.aq a0, a1, a2", "'add' has no aq/rl bits for the '.aq' suffix"},
      {rv64, "vadd.vv v1, v2, v3, v4", "'v4' is no operand 'vadd.vv' can read here: its mask is written v0.t"},
      {rv64, "vle8.v v8, (a0), v1", "'v1' is no operand 'vle8.v' can read here: its mask is written v0.t"},
      {rv64, "vle8.v v8, (a9)", "'a9' is not a register"},
      {rv64, "vsetvli a0, a1, e8, m9, ta, ma",
       "'e8, m9, ta, ma' is not a whole vector type: 'vsetvli' takes its four words, e8, m1, ta|tu, ma|mu"},
      {rv64, "vsetivli a0, 4, e16",
       "'e16' is not a whole vector type: 'vsetivli' takes its four words, e8, m1, ta|tu, ma|mu"},
      {rv64, "vsetvli a0, a1, x, y", "'x, y' is no operand 'vsetvli' can read here"},
      {rv64, "vlse8.v v1, 8(a0), a1",
       "'8(a0)' is no operand 'vlse8.v' can read here: a vector address takes no offset and is written '(a0)'"},
      {rv64, "vl1r.v v1, 0(a0)",
       "'0(a0)' is no operand 'vl1r.v' can read here: a vector address takes no offset and is written '(a0)'"},
      {rv64, "beq a0, a1, 1 @ 2", "'1 @ 2' is no operand 'beq' can read here"},
      {rv64, "fmadd.s f0, f1, f2, 5, rne", "'5' is a value, but 'fmadd.s' takes a register (rs3) here"},
      {rv64, "lw a0, 0(a9)", "'a9' is not a register"},
      {rv64, "sw a0, 4(a1", "'4(a1' has no closing ')'"},
      {rv64, "c.lwsp a0, 12(sp)", "sp is implicit in 'c.lwsp', which takes 2 operands (rd, offset)"},
      {rv64, "c.addi16sp sp, 16", "sp is implicit in 'c.addi16sp', which takes 1 operand"},
      {rv64, "lw a0, 0(a1), 4", "'lw' takes 3 operands here (rd, rs1, imm12)"},
      {rv64, "addi a0, a0, 2047", ""},
  });
}

TEST(RefusedFormNotes, X86SaysWhichPartFailed) {
  const Target x64 = Target::x86(64);
  const Target x32 = Target::x86(32);
  expectNotes({
      {x64, "mov eax, bx", "operand sizes differ: 'eax' is 32-bit, 'bx' is 16-bit"},
      {x64, "add bl, rcx", "operand sizes differ: 'bl' is 8-bit, 'rcx' is 64-bit"},
      {x32, "mov rax, 1", "not encodable in 32-bit mode; it encodes in 64-bit mode"},
      {x64, "push eax", "not encodable in 64-bit mode; it encodes in 16-bit and 32-bit mode"},
      {x64, "add r99, 1", "there is no register 'r99': the highest is r31"},
      {x64, "movaps xmm0, xmm40", "there is no register 'xmm40': the highest is xmm31"},
      {x64, "mov eax, [r40d]", "there is no register 'r40d': the highest is r31d"},
      {x32, "mov ax, [ax]", "'ax' cannot address memory: 16-bit addresses take bx, bp, si and di"},
      {x64, "mov ax, [bx]", "'bx' cannot address memory in 64-bit mode, which has no 16-bit addresses"},
      {x64, "mov eax, [cl]", "'cl' cannot address memory: it is an 8-bit register"},
      {x64, "add rax, [eax+rbx]", "an address takes registers of one size: 'eax' is 32-bit, 'rbx' is 64-bit"},
      {x64, "mov eax, 1 ; one", "';' does not start a comment here: only '//' ends an instruction line"},
      {x64, "ret # done", "'#' does not start a comment here: only '//' ends an instruction line"},
      {x32, "a64", "'a64' is a prefix valid only in 64-bit code"},
      {Target::x86(16), "o64", "'o64' is a prefix valid only in 64-bit code"},
      {x64, "a16", "'a16' is a prefix valid only in 16-bit and 32-bit code"},
      {x32, "a64 nop", "'a64' is a prefix valid only in 64-bit code"},
      {x64, "rep repne movsb",
       "'repne' follows another repeat prefix: a line takes one of rep, repe, repne, xacquire, xrelease, bnd and nobnd"},
      {x64, "lock lock inc dword [rax]", "'lock' is written twice"},
      {x64, "lock a64 nop",
       "'a64' before 'nop' is read as the instruction: a prefix word stands on a line of its own, the line before "
       "'nop'"},
      {x64, "shl eax, bx", ""},
  });
}

TEST(RefusedFormNotes, X86SaysWhatARepeatWordWouldChange) {
  const Target x64 = Target::x86(64);
  const Target x32 = Target::x86(32);
  expectNotes({
      {x64, "repne addss xmm0, xmm1",
       "'addss' already carries F3 in its opcode: 'repne' would put F2 in its place, which makes another instruction"},
      {x64, "rep movsd xmm0, xmm1",
       "'movsd' already carries F2 in its opcode: 'rep' would put F3 in its place, which makes another instruction"},
      {x32, "lock repnz lzcnt eax, [ebx]",
       "'lzcnt' already carries F3 in its opcode: 'repnz' would put F2 in its place, which makes another instruction"},
      {x64, "rep addps xmm0, xmm1", "'addps' takes no F2 or F3 prefix: 'rep' would add F3"},
      {x64, "repz tzcnt eax, ecx", "'tzcnt' already carries F3 in its opcode and takes no 'repz' besides"},
      {x64, "rep vaddps xmm0, xmm1, xmm2",
       "'vaddps' is a VEX instruction, which takes no 'rep': a legacy F2 or F3 before VEX faults"},
      {x64, "repe vaddps zmm0, zmm1, zmm2",
       "'vaddps' is an EVEX instruction, which takes no 'repe': a legacy F2 or F3 before EVEX faults"},
      {x64, "bnd jmp far [rax]", "'bnd' goes only with near jumps, calls and returns: a far jump takes none"},
      {x32, "nobnd call far [ebx+8]", "'nobnd' goes only with near jumps, calls and returns: a far call takes none"},
      {x32, "bnd jmp short 0x10", "'bnd' goes only with near jumps, calls and returns: a short jump takes none"},
      {x64, "bnd mov eax, 1", "'bnd' goes only with near jumps, calls and returns"},
      {x64, "repne jz short 0x10", "'repne' before a conditional jump would write F2, which there means 'bnd': "
                                   "write 'bnd' for that"},
      {Target::x86(16), "repnz jc 0x10", "'repnz' before a conditional jump would write F2, which there means "
                                         "'bnd': write 'bnd' for that"},
      {x32, "repne call 0x10", "'repne' before a call would write F2, which there means 'bnd': write 'bnd' for that"},
      {x64, "xacquire lock", "'xacquire' needs an instruction after it, not the lone prefix 'lock'"},
      {x32, "rep fs", "'rep' needs an instruction after it, not the lone prefix 'fs'"},
      {x64, "lock cs", "'lock' needs an instruction after it, not the lone prefix 'cs'"},
      {x32, "lock o32", "'lock' needs an instruction after it, not the lone prefix 'o32'"},
      {x64, "xrelease addsd xmm0, xmm1",
       "'addsd' already carries F2 in its opcode: 'xrelease' would put F3 in its place, which makes another "
       "instruction"},
      {x64, "xrelease addps xmm0, xmm1", "'addps' takes no F2 or F3 prefix: 'xrelease' would add F3"},
      {x64, "xacquire addps xmm0, xmm1", "'addps' takes no F2 or F3 prefix: 'xacquire' would add F2"},
      {x64, "rep foo", "no instruction named 'foo'"},
  });
}

TEST(RefusedFormNotes, X86SaysWhichSizeWordABranchCannotHave) {
  const Target x64 = Target::x86(64);
  const Target x16 = Target::x86(16);
  expectNotes({
      {x64, "jz word 0x10", "'word' is no operand size of 'jz' in 64-bit code: write 'jz 0x10'"},
      {x64, "jmp word 0x10", "'word' is no operand size of 'jmp' in 64-bit code: write 'jmp 0x10'"},
      {x64, "loop  word 0x10", "'word' is no operand size of 'loop' in 64-bit code: write 'loop  0x10'"},
      {x16, "jz qword 0x10", "'qword' is no operand size of 'jz' in 16-bit code: write 'jz 0x10'"},
      {Target::x86(32), "call near qword 0x10",
       "'qword' is no operand size of 'call' in 32-bit code: write 'call near 0x10'"},
      {x64, "jz short dword 0x10", "'dword' does not go with 'short' in 64-bit code: write 'jz short 0x10'"},
      {x64, "jmp word short 0x10", "'word' does not go with 'short' in 64-bit code: write 'jmp short 0x10'"},
      {x16, "jz qword [bx]", ""},
  });
}

}  // namespace
