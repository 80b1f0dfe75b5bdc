# Sized records (each parsed from its own substream), a switch on the tag,
# process xor and rol, instances that seek in this stream and in the root's,
# validations of every kind, and expressions over byte arrays.
meta:
  id: kt_tlv
  endian: le
seq:
  - id: magic
    contents: [0x54, 0x4c, 0x56, 0x31]
  - id: version
    type: u1
    valid:
      min: 1
      max: 3
  - id: flavour
    type: u1
    valid:
      any-of: [0x10, 0x20, 0x30]
  - id: checked
    type: u2
    valid:
      expr: _ % 2 == 0
  - id: fixed
    type: u1
    valid: 0x7f
  - id: table_ofs
    type: u4
  - id: num_records
    type: u1
  - id: records
    type: record
    repeat: expr
    repeat-expr: num_records
instances:
  table:
    pos: table_ofs
    type: u2
    repeat: expr
    repeat-expr: 3
  first_at_table:
    pos: table[0]
    size: 4
  byte_stats:
    value: first_at_table.max - first_at_table.min
  first_byte:
    value: first_at_table[0]
types:
  record:
    seq:
      - id: tag
        type: u1
        enum: tag
      - id: len
        type: u1
      - id: body
        size: len
        type:
          switch-on: tag
          cases:
            'tag::number': number
            'tag::text': text
            'tag::masked': masked
            'tag::pointer': pointer
  number:
    seq:
      - id: value
        type: s4
      - id: extra
        type: u1
        repeat: eos
  text:
    seq:
      - id: value
        type: str
        encoding: UTF-8
        size-eos: true
  masked:
    seq:
      - id: one
        size: 3
        process: xor(0x5a)
      - id: many
        size: 4
        process: xor([0x01, 0x02, 0x03])
      - id: rolled
        size-eos: true
        process: rol(3)
  pointer:
    seq:
      - id: ofs
        type: u2
      - id: local_ofs
        type: u1
    instances:
      in_root:
        io: _root._io
        pos: ofs
        type: u1
      in_body:
        pos: local_ofs
        type: u1
      is_last:
        value: _io.eof
      body_size:
        value: _io.size
enums:
  tag:
    1: number
    2: text
    3: masked
    4: pointer
