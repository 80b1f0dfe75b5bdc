// DeclarationsTest.cs - Native against the module's export list and tavbin.h: one
// wrong width in a DllImport corrupts calls silently, so every type is checked.

using System;
using System.Collections.Generic;
using System.IO;
using System.Linq;
using System.Reflection;
using System.Runtime.InteropServices;
using System.Text.RegularExpressions;

namespace Tavbin.Tests
{
    static class DeclarationsTest
    {
        // The declarations, without what the source generator adds beside them.
        static MethodInfo[] Declared() =>
            typeof(Native).GetMethods(BindingFlags.NonPublic | BindingFlags.Static | BindingFlags.DeclaredOnly)
                .Where(m => m.Name.StartsWith("tavbin")).ToArray();

        // The interface's names, sorted and joined by spaces.
        static string Exports()
        {
            var exports = File.ReadAllLines(Runner.ExportsPath).Where(l => l.Length > 0 && !l.StartsWith("#")).ToList();
            Assert.True(exports.Count > 0 && exports.Distinct().Count() == exports.Count, "exports.txt: each name once");
            return Sorted(exports);
        }

        static string Sorted(IEnumerable<string> names) =>
            string.Join(" ", names.OrderBy(n => n, StringComparer.Ordinal));

        [Test]
        static void ExactlyTheExportsEachFoundInTheModule()
        {
            Assert.Equal(Exports(), Sorted(Declared().Select(m => m.Name)), "Native's names");
            foreach (MethodInfo m in Declared())
            {
                var import = (DllImportAttribute)Attribute.GetCustomAttribute(m, typeof(DllImportAttribute));
#if NET
                // Generated declarations (a blittable one becomes a DllImport itself): the
                // name, the convention and the entry point checked on the module itself.
                var generated = m.GetCustomAttribute<LibraryImportAttribute>();
                Assert.True(generated != null, m.Name + " is a LibraryImport");
                Assert.Equal("binary-read-util", generated.LibraryName, m.Name);
                var conv = m.GetCustomAttribute<System.Runtime.InteropServices.UnmanagedCallConvAttribute>();
                Assert.True(conv != null && conv.CallConvs.SequenceEqual(new[] { typeof(System.Runtime.CompilerServices.CallConvCdecl) }), m.Name + " is cdecl");
                Assert.True(NativeLibrary.GetExport(NativeLibrary.Load(Runner.ModulePath), m.Name) != IntPtr.Zero, m.Name + " exported");
#else
                Assert.True(import != null, m.Name + " is a DllImport");
                Assert.Equal("binary-read-util", import.Value, m.Name);
                Assert.Equal(CallingConvention.Cdecl, import.CallingConvention, m.Name);
                Assert.True(import.ExactSpelling, m.Name + " ExactSpelling");
                Marshal.Prelink(m); // throws if the module lacks the entry point
#endif
            }
        }

        static readonly Dictionary<string, Type> Scalars = new Dictionary<string, Type>
        {
            ["void"] = typeof(void), ["uint8_t"] = typeof(byte), ["int8_t"] = typeof(sbyte),
            ["uint16_t"] = typeof(ushort), ["int16_t"] = typeof(short), ["uint32_t"] = typeof(uint),
            ["int32_t"] = typeof(int), ["uint64_t"] = typeof(ulong), ["int64_t"] = typeof(long),
            ["float"] = typeof(float), ["double"] = typeof(double),
            ["tavbin_status"] = typeof(int), ["tavbin_endian"] = typeof(uint),
        };

        // The C# type a C type must be declared as: handles as their SafeHandle (the raw
        // pointer in the close functions), outputs as out, other pointers as IntPtr.
        static Type Expected(string cType, string function, bool isReturn)
        {
            string t = Regex.Replace(cType.Replace("const", ""), @"\s+", "");
            if (!t.EndsWith("*"))
                return Scalars[t];
            t = t.TrimEnd('*');
            if (t == "tavbin_reader" || t == "tavbin_writer")
            {
                if (isReturn || !function.EndsWith("_close"))
                    return t == "tavbin_reader" ? typeof(ReaderHandle) : typeof(WriterHandle);
                return typeof(IntPtr);
            }
            if (isReturn || t == "void" || t == "char")
                return typeof(IntPtr);
            return Scalars[t].MakeByRefType();
        }

        [Test]
        static void EveryTypeAsTheHeaderDeclaresIt()
        {
            // The header as abi/declarations.py reads it for every binding: the name,
            // the return type, then each parameter's type.
            string[][] found = File.ReadAllLines(Runner.DeclarationsPath).Select(l => l.Split('|')).ToArray();
            Assert.Equal(Exports(), Sorted(found.Select(d => d[0])), "declarations in tavbin.h");
            foreach (string[] d in found)
            {
                string name = d[0];
                MethodInfo m = typeof(Native).GetMethod(name, BindingFlags.NonPublic | BindingFlags.Static);
                Assert.True(m != null, name + " declared in Native");
                Assert.Equal(Expected(d[1], name, true), m.ReturnType, name + " returns");
                string[] cParams = d.Skip(2).ToArray();
                ParameterInfo[] ps = m.GetParameters();
                Assert.Equal(cParams.Length, ps.Length, name + " parameter count");
                for (int i = 0; i < ps.Length; i++)
                {
                    Type expected = Expected(cParams[i], name, false);
                    Assert.Equal(expected, ps[i].ParameterType, $"{name} parameter {i} ({cParams[i]})");
                    Assert.Equal(expected.IsByRef, ps[i].IsOut, $"{name} parameter {i} is out");
                }
            }
        }

        [Test]
        static void LinuxNameIsTheOneTheBuildGives()
        {
            string built = Environment.GetEnvironmentVariable("TAVBIN_MODULE_NAME");
            if (built != null)
                Assert.Equal(built, Native.LinuxInstalledName, "the module's installed name");
        }

        [Test]
        static void LoadsTheModuleItWasGiven()
        {
            Library.StrError(0);
            if (!File.Exists("/proc/self/maps"))
                return;
            var mapped = File.ReadAllLines("/proc/self/maps").Where(l => l.Contains("binary-read-util"))
                .Select(l => l.Substring(l.IndexOf('/'))).Distinct().ToList();
            Assert.Equal(Path.GetFullPath(Runner.ModulePath), string.Join(", ", mapped), "mapped module");
        }

        [Test]
        static void StatusTexts()
        {
            string[] texts = { "ok", "eof", "range", "invalid_arg", "too_large", "oom" };
            for (int s = 0; s < texts.Length; s++)
            {
                Assert.Equal(texts[s], Library.StrError(s), "StrError(" + s + ")");
                Assert.Equal(texts[s], new TavbinException((Status)s).Message, "message of " + (Status)s);
            }
            foreach (int s in new[] { -1, 6, int.MinValue, int.MaxValue })
                Assert.Equal("unknown", Library.StrError(s), "StrError(" + s + ")");
        }
    }
}
