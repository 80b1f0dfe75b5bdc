// TavbinException.cs - a call's failed status, the method and where it began
//
// Copyright (c) 2026 The binary-read-util authors. MIT License, see LICENSE.

using System;

namespace Tavbin
{
    /// <summary>A call gave a status other than <see cref="Status.Ok"/>. The message
    /// names the method, the status's text and the offset: "Reader.U16: eof at offset
    /// 12" (only the text, "eof", "range", ..., when no method is given).</summary>
    public class TavbinException : Exception
    {
        /// <summary>A failure with no method or offset to name; the message is the
        /// status's text.</summary>
        public TavbinException(Status status) : this(status, 0) { }

        /// <summary>A failure at offset, no method named; the message is the status's
        /// text.</summary>
        public TavbinException(Status status, ulong offset) : this(status, offset, null) { }

        /// <summary>A failure of the method where (as "Reader.U16") at offset.</summary>
        public TavbinException(Status status, ulong offset, string where)
            : base(Text(status, offset, where))
        {
            Status = status;
            Offset = offset;
            Where = where;
        }

        static string Text(Status status, ulong offset, string where)
        {
            string text = Library.StrError((int)status);
            return where == null ? text : where + ": " + text + " at offset " + offset;
        }

        /// <summary>How the call failed.</summary>
        public Status Status { get; }

        /// <summary>Where the failed call began: for a reader, its Tell() just before the
        /// call (for a least-significant-bit-first read, the byte its first bit would have
        /// come from); for a writer, its Length; for an absolute read (U32At,
        /// CStringAt, ...), a load, a store or a patch, the offset it was given. A
        /// sub-reader's offsets are its own: add its <see cref="Reader.Origin"/> to place
        /// them in the outermost input.</summary>
        public ulong Offset { get; }

        /// <summary>The method that failed, as "Reader.U16" or "Writer.Bytes"; null if
        /// none was named.</summary>
        public string Where { get; }
    }
}
