# What only the 0.11 compiler generates: terminators of two bytes (UTF-16
# strings), an enum validation, and a sized field cut at a two-byte terminator.
meta:
  id: kt_newer
  endian: le
seq:
  - {id: wide, type: strz, encoding: UTF-16LE}
  - {id: wide_sized, type: str, size: 8, encoding: UTF-16LE}
  - {id: kind, type: u1, enum: kind, valid: {in-enum: true}}
  - {id: units, type: strz, size: 6, encoding: UTF-16LE}
enums:
  kind:
    1: one
    2: two
