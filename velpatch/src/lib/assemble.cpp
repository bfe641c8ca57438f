// Assemble: encoded program -> executable bytes, with the relocation table rebuilt from the
// positions of the absolute addresses written.
#include <algorithm>
#include <vector>

#include "arm_branch.h"
#include "encoded_program.h"
#include "nothrow.h"
#include "relocation_tables.h"
#include "streams.h"

namespace velpatch {
namespace {

// Cursor over one table; Next fails once the table is used up.
template <class T>
class TableCursor {
 public:
  explicit TableCursor(const std::vector<T>& table) : m_Table(table) {}
  bool Next(T* value) {
    if (m_Position >= m_Table.size())
      return false;
    *value = m_Table[m_Position++];
    return true;
  }
  bool Done() const { return m_Position == m_Table.size(); }

 private:
  const std::vector<T>& m_Table;
  size_t m_Position = 0;
};

bool WriteU32(ByteSink& sink, uint32_t value) {
  const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  return sink.Write(bytes, 4);
}

bool Lookup(const std::vector<uint32_t>& table, uint32_t index, uint32_t* value) {
  if (index >= table.size())
    return false;
  *value = table[index];
  return true;
}

enum class TableKind { None, Pe, Elf };

class Assembler {
 public:
  Assembler(const EncodedProgram& program, ByteSink& out)
      : m_Program(program),
        m_Out(out),
        m_Origins(program.origins),
        m_CopyCounts(program.copy_counts),
        m_Rel32Indexes(program.rel32_indexes),
        m_Abs32Indexes(program.abs32_indexes) {}

  bool Run() {
    // Copies write their bytes and references at most four bytes each: reserving that up
    // front spares the output its growth copies (the tables add a little at the end).
    const size_t estimate = m_Program.copy_bytes.size() + 4 * m_Program.rel32_indexes.size() +
                            4 * m_Program.abs32_indexes.size();
    if (!m_Out.Reserve(estimate))
      return false;
    for (uint32_t op : m_Program.ops) {
      if (!Step(op))
        return false;
    }
    // Leftover origins are harmless; any other leftover means the tables do not belong to
    // these ops.
    if (m_CopyPosition != m_Program.copy_bytes.size() || !m_CopyCounts.Done() ||
        !m_Rel32Indexes.Done() || !m_Abs32Indexes.Done())
      return false;
    return FinishTable();
  }

 private:
  ByteSink& Target() { return m_Table == TableKind::None ? m_Out : m_Side; }

  bool Copy(uint32_t n) {
    if (n > m_Program.copy_bytes.size() - m_CopyPosition)
      return false;
    if (!Target().Write(m_Program.copy_bytes.data() + m_CopyPosition, n))
      return false;
    m_CopyPosition += n;
    m_Rva += n;
    return true;
  }

  bool Step(uint32_t op) {
    uint32_t value = 0;
    uint32_t index = 0;
    switch (op) {
      case OpOrigin:
        if (!m_Origins.Next(&value))
          return false;
        m_Rva = value;
        return true;
      case OpCopy:
        return m_CopyCounts.Next(&value) && Copy(value);
      case OpCopy1:
        return Copy(1);
      case OpRel32:
        if (!m_Rel32Indexes.Next(&index) || !Lookup(m_Program.rel32_rvas, index, &value))
          return false;
        value = value - m_Rva - 4;
        m_Rva += 4;
        return WriteU32(Target(), value);
      case OpAbs32:
        if (!m_Abs32Indexes.Next(&index) || !Lookup(m_Program.abs32_rvas, index, &value))
          return false;
        if (!NoThrowAlloc([&] { m_Positions.push_back(m_Rva); }))
          return false;
        m_Rva += 4;
        return WriteU32(Target(), value + static_cast<uint32_t>(m_Program.image_base));
      case OpMakePeRelocs:
      case OpMakePe64Relocs:
        if (m_PeRequested)
          return false;
        m_PeRequested = true;
        return StartTable(TableKind::Pe, op == OpMakePeRelocs ? kPeRelocHighLow : kPeRelocDir64);
      case OpMakeElfRelocs:
      case OpMakeElfArmRelocs:
        if (m_ElfRequested)
          return false;
        m_ElfRequested = true;
        return StartTable(TableKind::Elf,
                          op == OpMakeElfRelocs ? kElfRelocRelative386 : kElfRelocRelativeArm);
    }
    return StepArm(op);
  }

  bool StepArm(uint32_t op) {
    if (op < OpRel32ArmFirst || op > OpRel32ArmLast)
      return false;
    uint32_t index = 0;
    uint32_t target = 0;
    uint32_t value = 0;
    uint8_t bytes[4];
    if (!m_Rel32Indexes.Next(&index) || !Lookup(m_Program.rel32_rvas, index, &target))
      return false;
    const uint16_t arm_op = static_cast<uint16_t>(op);
    if (!DecompressArmBranch(arm_op, target - m_Rva, &value))
      return false;
    const uint32_t size = StoreArmBranch(arm_op, value, bytes);
    if (size == 0 || !Target().Write(bytes, size))
      return false;
    m_Rva += size;
    return true;
  }

  // Both a PE and an ELF table in one program is not something a disassembler produces; the
  // side buffer holds one tail only, so refuse it rather than mix the two up.
  bool StartTable(TableKind kind, uint32_t type) {
    if (m_Table != TableKind::None)
      return false;
    m_Table = kind;
    m_TableType = type;
    return true;
  }

  bool FinishTable() {
    if (m_Table == TableKind::None)
      return true;
    SortAllButLast(m_Positions);
    const bool ok = m_Table == TableKind::Pe
                        ? WritePeRelocationTable(m_Positions, m_TableType, m_Out)
                        : WriteElfRelocationTable(m_Positions, m_TableType, m_Out);
    return ok && m_Out.Append(m_Side);
  }

  const EncodedProgram& m_Program;
  ByteSink& m_Out;
  ByteSink m_Side;  // output after a table op; it follows the table
  uint32_t m_Rva = 0;
  TableCursor<uint32_t> m_Origins;
  TableCursor<uint32_t> m_CopyCounts;
  TableCursor<uint32_t> m_Rel32Indexes;
  TableCursor<uint32_t> m_Abs32Indexes;
  size_t m_CopyPosition = 0;
  std::vector<uint32_t> m_Positions;  // RVA of every absolute address written, in order
  TableKind m_Table = TableKind::None;
  uint32_t m_TableType = 0;
  bool m_PeRequested = false;
  bool m_ElfRequested = false;
};

}  // namespace

PatchStatus Assemble(const EncodedProgram& program, ByteSink& out) {
  Assembler assembler(program, out);
  return assembler.Run() ? PatchStatus::Ok : PatchStatus::AssemblyFailed;
}

}  // namespace velpatch
