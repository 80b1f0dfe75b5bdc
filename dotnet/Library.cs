// Library.cs - status texts, loads and stores, zigzag
//
// Copyright (c) 2026 The binary-read-util authors. MIT License, see LICENSE.

using System;
using System.Runtime.InteropServices;
using Tavbin.Core;

namespace Tavbin
{
    /// <summary>The status texts, loads and stores of unsigned values, and the zigzag
    /// mapping of signed values.</summary>
    public static class Library
    {
        static void Check(int status, ulong offset, string where)
        {
            if (status != 0)
                throw new TavbinException((Status)status, offset, where);
        }

        /// <summary>"ok", "eof", "range", "invalid_arg", "too_large", "oom", or "unknown".</summary>
        public static string StrError(int status)
        {
            // The text is static in the module: copied here, never freed.
            return Marshal.PtrToStringAnsi(NativeMethods.tavbin_strerror(status));
        }

        // An open gives no status: a byte order the module refuses or, failing that,
        // memory.
        internal static TavbinException OpenFailed(Endian order, string where)
        {
            bool known = order == Endian.Big || order == Endian.Little;
            return new TavbinException(known ? Status.Oom : Status.InvalidArg, 0, where);
        }

        /// <summary>Maps a signed value to an unsigned one so that small magnitudes of
        /// either sign stay small (0, -1, 1, -2 become 0, 1, 2, 3): protobuf's sint
        /// encoding, to be written with Writer.Leb128.</summary>
        public static ulong ZigzagEncode(long value) => (ulong)(value << 1) ^ (ulong)(value >> 63);

        /// <summary>The inverse of ZigzagEncode, for a value read with Reader.Leb128.</summary>
        public static long ZigzagDecode(ulong value) => (long)(value >> 1) ^ -(long)(value & 1);

        // Pins an array and points at offset in it, with the bytes from there to its end.
        // An offset at or past the end points at the end with no bytes, so the C call
        // reports it (Eof for a load, Range for a store) and reads or writes nothing.
        static GCHandle Pin(byte[] data, int offset, out IntPtr at, out ulong avail)
        {
            if (data == null)
                throw new ArgumentNullException(nameof(data));
            if (offset < 0)
                throw new ArgumentOutOfRangeException(nameof(offset), offset, "a negative offset");
            int from = Math.Min(offset, data.Length);
            avail = (ulong)(data.Length - from);
            GCHandle pin = Checks.Pin(data);
            at = pin.AddrOfPinnedObject() + from;
            return pin;
        }

        /// <summary>The 2-byte value at data[offset] (LoadU32, LoadU64: 4, 8 bytes).
        /// TavbinException: Eof if fewer bytes are there, an offset past the end included;
        /// InvalidArg for a byte order that is not one. ArgumentOutOfRangeException for a
        /// negative offset.</summary>
        public static ushort LoadU16(byte[] data, int offset, Endian order)
        {
            GCHandle pin = Pin(data, offset, out IntPtr at, out ulong avail);
            try { Check(NativeMethods.tavbin_load_u16(at, avail, (uint)order, out ushort v), (ulong)offset, "Library.LoadU16"); return v; }
            finally { Checks.Unpin(pin); }
        }

        /// <summary>The 4-byte value at data[offset], as <see cref="LoadU16(byte[], int, Endian)"/> loads.</summary>
        public static uint LoadU32(byte[] data, int offset, Endian order)
        {
            GCHandle pin = Pin(data, offset, out IntPtr at, out ulong avail);
            try { Check(NativeMethods.tavbin_load_u32(at, avail, (uint)order, out uint v), (ulong)offset, "Library.LoadU32"); return v; }
            finally { Checks.Unpin(pin); }
        }

        /// <summary>The 8-byte value at data[offset], as <see cref="LoadU16(byte[], int, Endian)"/> loads.</summary>
        public static ulong LoadU64(byte[] data, int offset, Endian order)
        {
            GCHandle pin = Pin(data, offset, out IntPtr at, out ulong avail);
            try { Check(NativeMethods.tavbin_load_u64(at, avail, (uint)order, out ulong v), (ulong)offset, "Library.LoadU64"); return v; }
            finally { Checks.Unpin(pin); }
        }

        /// <summary>Stores the 2 bytes of value at buffer[offset] (StoreU32, StoreU64: 4, 8).
        /// TavbinException: Range if fewer bytes are there, an offset past the end
        /// included (nothing is written); InvalidArg for a byte order that is not one.
        /// ArgumentOutOfRangeException for a negative offset.</summary>
        public static void StoreU16(byte[] buffer, int offset, ushort value, Endian order)
        {
            GCHandle pin = Pin(buffer, offset, out IntPtr at, out ulong cap);
            try { Check(NativeMethods.tavbin_store_u16(at, cap, (uint)order, value), (ulong)offset, "Library.StoreU16"); }
            finally { Checks.Unpin(pin); }
        }

        /// <summary>Stores the 4 bytes of value at buffer[offset], as <see cref="StoreU16(byte[], int, ushort, Endian)"/> stores.</summary>
        public static void StoreU32(byte[] buffer, int offset, uint value, Endian order)
        {
            GCHandle pin = Pin(buffer, offset, out IntPtr at, out ulong cap);
            try { Check(NativeMethods.tavbin_store_u32(at, cap, (uint)order, value), (ulong)offset, "Library.StoreU32"); }
            finally { Checks.Unpin(pin); }
        }

        /// <summary>Stores the 8 bytes of value at buffer[offset], as <see cref="StoreU16(byte[], int, ushort, Endian)"/> stores.</summary>
        public static void StoreU64(byte[] buffer, int offset, ulong value, Endian order)
        {
            GCHandle pin = Pin(buffer, offset, out IntPtr at, out ulong cap);
            try { Check(NativeMethods.tavbin_store_u64(at, cap, (uint)order, value), (ulong)offset, "Library.StoreU64"); }
            finally { Checks.Unpin(pin); }
        }

#if NET
        // The span versions: the value at the start of data, or stored at the start of
        // buffer. The C calls never see a null pointer: an empty span gets a byte to
        // point at, with no bytes available.
        static readonly byte[] Nothing = new byte[1];

        /// <summary>The 2-byte value at the start of data (LoadU32, LoadU64: 4, 8 bytes).
        /// TavbinException: Eof if fewer bytes are there; InvalidArg for a byte order that
        /// is not one.</summary>
        public static unsafe ushort LoadU16(ReadOnlySpan<byte> data, Endian order)
        {
            fixed (byte* p = data.IsEmpty ? Nothing : data)
            {
                Check(NativeMethods.tavbin_load_u16((IntPtr)p, (ulong)data.Length, (uint)order, out ushort v), 0, "Library.LoadU16");
                return v;
            }
        }

        /// <summary>The 4-byte value at the start of data, as <see cref="LoadU16(ReadOnlySpan{byte}, Endian)"/> loads.</summary>
        public static unsafe uint LoadU32(ReadOnlySpan<byte> data, Endian order)
        {
            fixed (byte* p = data.IsEmpty ? Nothing : data)
            {
                Check(NativeMethods.tavbin_load_u32((IntPtr)p, (ulong)data.Length, (uint)order, out uint v), 0, "Library.LoadU32");
                return v;
            }
        }

        /// <summary>The 8-byte value at the start of data, as <see cref="LoadU16(ReadOnlySpan{byte}, Endian)"/> loads.</summary>
        public static unsafe ulong LoadU64(ReadOnlySpan<byte> data, Endian order)
        {
            fixed (byte* p = data.IsEmpty ? Nothing : data)
            {
                Check(NativeMethods.tavbin_load_u64((IntPtr)p, (ulong)data.Length, (uint)order, out ulong v), 0, "Library.LoadU64");
                return v;
            }
        }

        /// <summary>Stores the 2 bytes of value at the start of buffer (StoreU32, StoreU64:
        /// 4, 8). TavbinException: Range if fewer bytes are there (nothing is written);
        /// InvalidArg for a byte order that is not one.</summary>
        public static unsafe void StoreU16(Span<byte> buffer, ushort value, Endian order)
        {
            fixed (byte* p = buffer.IsEmpty ? Nothing : buffer)
                Check(NativeMethods.tavbin_store_u16((IntPtr)p, (ulong)buffer.Length, (uint)order, value), 0, "Library.StoreU16");
        }

        /// <summary>Stores the 4 bytes of value at the start of buffer, as <see cref="StoreU16(Span{byte}, ushort, Endian)"/> stores.</summary>
        public static unsafe void StoreU32(Span<byte> buffer, uint value, Endian order)
        {
            fixed (byte* p = buffer.IsEmpty ? Nothing : buffer)
                Check(NativeMethods.tavbin_store_u32((IntPtr)p, (ulong)buffer.Length, (uint)order, value), 0, "Library.StoreU32");
        }

        /// <summary>Stores the 8 bytes of value at the start of buffer, as <see cref="StoreU16(Span{byte}, ushort, Endian)"/> stores.</summary>
        public static unsafe void StoreU64(Span<byte> buffer, ulong value, Endian order)
        {
            fixed (byte* p = buffer.IsEmpty ? Nothing : buffer)
                Check(NativeMethods.tavbin_store_u64((IntPtr)p, (ulong)buffer.Length, (uint)order, value), 0, "Library.StoreU64");
        }
#endif
    }
}
