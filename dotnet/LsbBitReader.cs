// LsbBitReader.cs - bit fields least significant bit first
//
// Copyright (c) 2026 The binary-read-util authors. MIT License, see LICENSE.

using System;

namespace Tavbin
{
    /// <summary>Bit fields read least significant bit first, from <see cref="Reader.LsbBits"/>.
    /// Dispose does what Done does.</summary>
    public sealed class LsbBitReader : IDisposable
    {
        readonly Reader reader;
        readonly ulong start; // the byte of the first bit
        ulong pos;            // bits taken since
        bool done;

        internal LsbBitReader(Reader reader, ulong start)
        {
            this.reader = reader;
            this.start = start;
        }

        /// <summary>count bits (1 to 64), least significant first. TavbinException:
        /// InvalidArg for another count or after Done, Eof if fewer bits remain; nothing
        /// is taken then, and the exception's Offset is the byte the first bit would
        /// have come from. ObjectDisposedException once the reader is disposed.</summary>
        public ulong Read(int count)
        {
            if (done || count < 1 || count > 64)
                throw new TavbinException(Status.InvalidArg, start + pos / 8, "LsbBitReader.Read");
            ulong v = reader.LsbTake(start, pos, count);
            pos += (ulong)count;
            return v;
        }

        /// <summary>count bits, as <see cref="Read(int)"/> takes them; a count above 64
        /// is refused as any count outside 1 to 64 is (InvalidArg).</summary>
        public ulong Read(uint count) => Read(count > 64 ? 0 : (int)count);

        /// <summary>Drops the rest of a partly read byte.</summary>
        public void Align()
        {
            if (!done)
                pos = (pos + 7) & ~7UL;
        }

        /// <summary>Moves the reader past every byte a bit was taken from (with none
        /// taken, the reader stays as it was, a partly read byte included); later reads
        /// here throw TavbinException (InvalidArg). Calling it again does nothing.</summary>
        public void Done()
        {
            if (done)
                return;
            done = true;
            if (pos != 0)
                reader.Skip((pos + 7) / 8); // first past a partly read byte, where start is
        }

        /// <summary>Does what <see cref="Done"/> does, unless the reader is disposed.</summary>
        public void Dispose()
        {
            if (!done && !reader.Closed)
                Done();
            done = true;
        }
    }
}
