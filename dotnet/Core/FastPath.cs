// FastPath.cs - the ten fixed-width reads as values, for Reader's one guarded read
//
// Copyright (c) 2026 The binary-read-util authors. MIT License, see LICENSE.
//
// Reader.Fixed takes the read to make as an argument, so that the ten reads share
// one body. On net8.0 and later each is the module's own entry point (found by the
// name NativeMethods declares, in the file the declarations loaded), which Fixed
// calls as an unmanaged function pointer that skips the GC transition: no stub at
// all, about half the cost of the declaration's call. Elsewhere each is a delegate of the
// declaration itself. DeclarationsTest checks every one against NativeMethods.

using System;
#if NET
using System.Runtime.InteropServices;
#endif

namespace Tavbin.Core
{
#if !NET
    delegate int FixedRead<T>(IntPtr r, out T value);
#endif

#if NET
    // A C function of the shape int f(tavbin_reader *, T *): its address, which
    // Reader.Fixed calls as an unmanaged function pointer.
    readonly struct FixedRead<T> where T : unmanaged
    {
        internal readonly IntPtr Entry;

        internal FixedRead(IntPtr entry) => Entry = entry;
    }

    static class FastPath
    {
        static readonly IntPtr Module = Load();

        static IntPtr Load()
        {
            NativeMethods.tavbin_strerror(0); // resolves the module, as any first call does
            if (Resolver.Loaded == IntPtr.Zero)
                throw new DllNotFoundException("the module " + NativeMethods.Lib + " was not loaded through the binding's resolver");
            return Resolver.Loaded;
        }

        static IntPtr Entry(string name) => NativeLibrary.GetExport(Module, name);

        internal static readonly FixedRead<byte> tavbin_u8 = new FixedRead<byte>(Entry(nameof(NativeMethods.tavbin_u8)));
        internal static readonly FixedRead<sbyte> tavbin_i8 = new FixedRead<sbyte>(Entry(nameof(NativeMethods.tavbin_i8)));
        internal static readonly FixedRead<ushort> tavbin_u16 = new FixedRead<ushort>(Entry(nameof(NativeMethods.tavbin_u16)));
        internal static readonly FixedRead<short> tavbin_i16 = new FixedRead<short>(Entry(nameof(NativeMethods.tavbin_i16)));
        internal static readonly FixedRead<uint> tavbin_u32 = new FixedRead<uint>(Entry(nameof(NativeMethods.tavbin_u32)));
        internal static readonly FixedRead<int> tavbin_i32 = new FixedRead<int>(Entry(nameof(NativeMethods.tavbin_i32)));
        internal static readonly FixedRead<float> tavbin_f32 = new FixedRead<float>(Entry(nameof(NativeMethods.tavbin_f32)));
        internal static readonly FixedRead<ulong> tavbin_u64 = new FixedRead<ulong>(Entry(nameof(NativeMethods.tavbin_u64)));
        internal static readonly FixedRead<long> tavbin_i64 = new FixedRead<long>(Entry(nameof(NativeMethods.tavbin_i64)));
        internal static readonly FixedRead<double> tavbin_f64 = new FixedRead<double>(Entry(nameof(NativeMethods.tavbin_f64)));
    }
#else
    static class FastPath
    {
        internal static readonly FixedRead<byte> tavbin_u8 = NativeMethods.tavbin_u8;
        internal static readonly FixedRead<sbyte> tavbin_i8 = NativeMethods.tavbin_i8;
        internal static readonly FixedRead<ushort> tavbin_u16 = NativeMethods.tavbin_u16;
        internal static readonly FixedRead<short> tavbin_i16 = NativeMethods.tavbin_i16;
        internal static readonly FixedRead<uint> tavbin_u32 = NativeMethods.tavbin_u32;
        internal static readonly FixedRead<int> tavbin_i32 = NativeMethods.tavbin_i32;
        internal static readonly FixedRead<float> tavbin_f32 = NativeMethods.tavbin_f32;
        internal static readonly FixedRead<ulong> tavbin_u64 = NativeMethods.tavbin_u64;
        internal static readonly FixedRead<long> tavbin_i64 = NativeMethods.tavbin_i64;
        internal static readonly FixedRead<double> tavbin_f64 = NativeMethods.tavbin_f64;
    }
#endif
}
