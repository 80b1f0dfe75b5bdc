# Every integer and float read in both byte orders, an enum with unknown values,
# and records repeated to the end of the stream.
meta:
  id: kt_numbers
  endian: le
seq:
  - id: little
    type: all_widths
  - id: big
    type: all_widths_be
  - id: kinds
    type: u1
    enum: kind
    repeat: expr
    repeat-expr: 3
  - id: wide_kind
    type: u4be
    enum: kind
  - id: count
    type: u2
  - id: words
    type: s2be
    repeat: expr
    repeat-expr: count
  - id: tail
    type: u2
    repeat: eos
types:
  all_widths:
    seq:
      - {id: a_u1, type: u1}
      - {id: a_s1, type: s1}
      - {id: a_u2, type: u2}
      - {id: a_s2, type: s2}
      - {id: a_u4, type: u4}
      - {id: a_s4, type: s4}
      - {id: a_u8, type: u8}
      - {id: a_s8, type: s8}
      - {id: a_f4, type: f4}
      - {id: a_f8, type: f8}
  all_widths_be:
    meta:
      endian: be
    seq:
      - {id: a_u2, type: u2}
      - {id: a_s2, type: s2}
      - {id: a_u4, type: u4}
      - {id: a_s4, type: s4}
      - {id: a_u8, type: u8}
      - {id: a_s8, type: s8}
      - {id: a_f4, type: f4}
      - {id: a_f8, type: f8}
    instances:
      sum:
        value: a_u2 + a_s2 + a_u4
enums:
  kind:
    0: none
    1: small
    2: large
    0x10203040: wide
