// Resolver.cs - which file the module is loaded from, on net8.0 and later
//
// Copyright (c) 2026 The binary-read-util authors. MIT License, see LICENSE.
//
// DllImport("binary-read-util") finds binary-read-util.dll on Windows, in the
// assembly's folder or System32 only (DefaultDllImportSearchPaths), and
// libbinary-read-util.so elsewhere. On net8.0 and later this resolver loads the file
// named by TAVBIN_LIBRARY when that is set (or fails naming it), then the package's
// own copy, then libbinary-read-util.so.1 as installed on Linux. Mono uses a dllmap.

#if NET
using System;
using System.Reflection;
using System.Runtime.CompilerServices;
using System.Runtime.InteropServices;

namespace Tavbin.Core
{
    static class Resolver
    {
        // The module as loaded for the declarations: FastPath takes its entry points
        // from the same file.
        internal static IntPtr Loaded;

        // Runs when the assembly loads, before any call can reach the module.
#pragma warning disable CA2255
        [ModuleInitializer]
        internal static void Init() => NativeLibrary.SetDllImportResolver(typeof(Resolver).Assembly, Resolve);
#pragma warning restore CA2255

        static IntPtr Resolve(string name, Assembly assembly, DllImportSearchPath? paths)
        {
            if (name != NativeMethods.Lib)
                return IntPtr.Zero;
            IntPtr found = Find(name, assembly, paths);
            if (found != IntPtr.Zero)
                Loaded = found;
            return found;
        }

        static IntPtr Find(string name, Assembly assembly, DllImportSearchPath? paths)
        {
            string path = Environment.GetEnvironmentVariable("TAVBIN_LIBRARY");
            if (!string.IsNullOrEmpty(path))
            {
                // An explicit choice is obeyed or refused, never replaced by another copy.
                if (NativeLibrary.TryLoad(path, out IntPtr chosen))
                    return chosen;
                throw new DllNotFoundException("TAVBIN_LIBRARY names " + path + ", which does not load");
            }
            if (NativeLibrary.TryLoad(name, assembly, paths ?? DllImportSearchPath.AssemblyDirectory | DllImportSearchPath.System32, out IntPtr found))
                return found;
            if (OperatingSystem.IsLinux() && NativeLibrary.TryLoad(NativeMethods.LinuxInstalledName, out found))
                return found;
            return IntPtr.Zero;
        }
    }
}
#endif
