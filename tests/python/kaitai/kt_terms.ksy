# Terminated byte arrays with every combination of include, consume and
# eos-error, terminators inside sized fields, padding, and strings.
meta:
  id: kt_terms
  encoding: ASCII
seq:
  - {id: plain, type: strz}
  - {id: included, terminator: 0x2c, include: true}
  - {id: kept, terminator: 0x3b, consume: false}
  - {id: kept_mark, type: u1}
  - {id: both, terminator: 0x3b, include: true, consume: false}
  - {id: both_mark, type: u1}
  - {id: sized_term, size: 6, terminator: 0x2e}
  - {id: sized_term_incl, size: 6, terminator: 0x2e, include: true}
  - {id: padded, size: 5, pad-right: 0x20}
  - {id: padded_str, type: str, size: 5, pad-right: 0x5f}
  - {id: name_len, type: u1}
  - {id: name, type: str, size: name_len}
  - {id: last, terminator: 0x21, eos-error: false}
  - {id: last_incl, terminator: 0x21, include: true, consume: false, eos-error: false}
  - {id: rest, size-eos: true}
