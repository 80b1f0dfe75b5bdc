# 64-bit little-endian ELF: the header, every section header with its name, and
# the symbol and dynamic tables parsed from their sections.
meta:
  id: bk_elf
  endian: le
seq:
  - id: magic
    contents: [0x7f, 0x45, 0x4c, 0x46]
  - id: klass
    type: u1
    valid: 2
  - id: data
    type: u1
    valid: 1
  - id: ident_rest
    size: 10
  - {id: type, type: u2}
  - {id: machine, type: u2}
  - {id: version, type: u4}
  - {id: entry, type: u8}
  - {id: phoff, type: u8}
  - {id: shoff, type: u8}
  - {id: flags, type: u4}
  - {id: ehsize, type: u2}
  - {id: phentsize, type: u2}
  - {id: phnum, type: u2}
  - {id: shentsize, type: u2}
  - {id: shnum, type: u2}
  - {id: shstrndx, type: u2}
instances:
  program_headers:
    pos: phoff
    size: phentsize
    type: program_header
    repeat: expr
    repeat-expr: phnum
  sections:
    pos: shoff
    size: shentsize
    type: section
    repeat: expr
    repeat-expr: shnum
types:
  program_header:
    seq:
      - {id: type, type: u4}
      - {id: flags, type: u4}
      - {id: offset, type: u8}
      - {id: vaddr, type: u8}
      - {id: paddr, type: u8}
      - {id: filesz, type: u8}
      - {id: memsz, type: u8}
      - {id: align, type: u8}
  section:
    seq:
      - {id: name_ofs, type: u4}
      - {id: type, type: u4, enum: section_type}
      - {id: flags, type: u8}
      - {id: addr, type: u8}
      - {id: offset, type: u8}
      - {id: size, type: u8}
      - {id: link, type: u4}
      - {id: info, type: u4}
      - {id: align, type: u8}
      - {id: entsize, type: u8}
    instances:
      name:
        io: _root._io
        pos: _root.sections[_root.shstrndx].offset + name_ofs
        type: strz
        encoding: ASCII
      body:
        io: _root._io
        pos: offset
        size: 'type == section_type::nobits ? 0 : size'
        type:
          switch-on: type
          cases:
            'section_type::symtab': symbols
            'section_type::dynsym': symbols
            'section_type::dynamic': dynamic
  symbols:
    seq:
      - id: entries
        type: symbol
        repeat: eos
  symbol:
    seq:
      - {id: name_ofs, type: u4}
      - {id: bind, type: b4}
      - {id: kind, type: b4}
      - {id: other, type: u1}
      - {id: shndx, type: u2}
      - {id: value, type: u8}
      - {id: size, type: u8}
  dynamic:
    seq:
      - id: entries
        type: dyn
        repeat: eos
  dyn:
    seq:
      - {id: tag, type: s8}
      - {id: value, type: u8}
enums:
  section_type:
    0: null_type
    1: progbits
    2: symtab
    3: strtab
    4: rela
    6: dynamic
    7: note
    8: nobits
    11: dynsym
