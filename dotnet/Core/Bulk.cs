// Bulk.cs - the element types of Reader.Array and Writer.Array, and their byte swap
//
// Copyright (c) 2026 The binary-read-util authors. MIT License, see LICENSE.

using System;
using System.Runtime.InteropServices;
#if NET
using System.Buffers.Binary;
#endif

namespace Tavbin.Core
{
    static class Bulk
    {
        static class Of<T>
        {
            internal static readonly int Width =
                typeof(T) == typeof(byte) || typeof(T) == typeof(sbyte) ? 1 :
                typeof(T) == typeof(ushort) || typeof(T) == typeof(short) ? 2 :
                typeof(T) == typeof(uint) || typeof(T) == typeof(int) || typeof(T) == typeof(float) ? 4 :
                typeof(T) == typeof(ulong) || typeof(T) == typeof(long) || typeof(T) == typeof(double) ? 8 : 0;
        }

        internal static int Width<T>()
        {
            int w = Of<T>.Width;
            if (w == 0)
                throw new ArgumentException("values of " + typeof(T).Name + " have no encoding here; " +
                                            "use byte, sbyte, ushort, short, uint, int, ulong, long, float or double");
            return w;
        }

        // Reverses the bytes of each of count values of width bytes at p.
        internal static void Reverse(IntPtr p, long count, int width)
        {
            long a = p.ToInt64();
            for (long i = 0; i < count; i++)
            {
                IntPtr at = new IntPtr(a + i * width);
                switch (width)
                {
                    case 2:
                        ushort u16 = (ushort)Marshal.ReadInt16(at);
                        Marshal.WriteInt16(at, (short)(u16 >> 8 | u16 << 8));
                        break;
                    case 4:
                        uint u32 = (uint)Marshal.ReadInt32(at);
                        Marshal.WriteInt32(at, (int)Swap32(u32));
                        break;
                    case 8:
                        ulong u64 = (ulong)Marshal.ReadInt64(at);
                        Marshal.WriteInt64(at, (long)((ulong)Swap32((uint)u64) << 32 | Swap32((uint)(u64 >> 32))));
                        break;
                }
            }
        }

        static uint Swap32(uint v) => v >> 24 | (v >> 8 & 0xFF00) | (v << 8 & 0xFF0000) | v << 24;

#if NET
        internal static void Reverse(Span<byte> bytes, int width)
        {
            switch (width)
            {
                case 2:
                    Span<ushort> u16 = MemoryMarshal.Cast<byte, ushort>(bytes);
                    BinaryPrimitives.ReverseEndianness(u16, u16);
                    break;
                case 4:
                    Span<uint> u32 = MemoryMarshal.Cast<byte, uint>(bytes);
                    BinaryPrimitives.ReverseEndianness(u32, u32);
                    break;
                case 8:
                    Span<ulong> u64 = MemoryMarshal.Cast<byte, ulong>(bytes);
                    BinaryPrimitives.ReverseEndianness(u64, u64);
                    break;
            }
        }
#endif
    }
}
