# ZIP (and so jar): the end record found from the end of the file (no archive
# comment), the central directory it points to, and each entry's local header.
meta:
  id: bk_zip
  endian: le
instances:
  end:
    pos: _io.size - 22
    type: end_record
  directory:
    pos: end.dir_ofs
    size: end.dir_size
    type: central_directory
types:
  end_record:
    seq:
      - {id: magic, contents: [0x50, 0x4b, 0x05, 0x06]}
      - {id: disk, type: u2}
      - {id: dir_disk, type: u2}
      - {id: entries_here, type: u2}
      - {id: entries, type: u2}
      - {id: dir_size, type: u4}
      - {id: dir_ofs, type: u4}
      - {id: comment_len, type: u2}
  central_directory:
    seq:
      - id: entries
        type: central_entry
        repeat: eos
  central_entry:
    seq:
      - {id: magic, contents: [0x50, 0x4b, 0x01, 0x02]}
      - {id: made_by, type: u2}
      - {id: needed, type: u2}
      - {id: flags, type: u2}
      - {id: method, type: u2, enum: method}
      - {id: time, type: u2}
      - {id: date, type: u2}
      - {id: crc, type: u4}
      - {id: packed_size, type: u4}
      - {id: size, type: u4}
      - {id: name_len, type: u2}
      - {id: extra_len, type: u2}
      - {id: comment_len, type: u2}
      - {id: disk, type: u2}
      - {id: internal, type: u2}
      - {id: external, type: u4}
      - {id: local_ofs, type: u4}
      - {id: name, type: str, size: name_len, encoding: UTF-8}
      - {id: extra, size: extra_len}
      - {id: comment, size: comment_len}
    instances:
      local:
        io: _root._io
        pos: local_ofs
        type: local_header
  local_header:
    seq:
      - {id: magic, contents: [0x50, 0x4b, 0x03, 0x04]}
      - {id: needed, type: u2}
      - {id: flags, type: u2}
      - {id: method, type: u2}
      - {id: time, type: u2}
      - {id: date, type: u2}
      - {id: crc, type: u4}
      - {id: packed_size, type: u4}
      - {id: size, type: u4}
      - {id: name_len, type: u2}
      - {id: extra_len, type: u2}
      - {id: name, type: str, size: name_len, encoding: UTF-8}
      - {id: extra, size: extra_len}
enums:
  method:
    0: stored
    8: deflated
