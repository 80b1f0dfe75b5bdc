// DeclarationsTest.cs - NativeMethods and FastPath against the module's export list
// and tavbin.h: one wrong width in a declaration corrupts calls silently, so every
// type is checked, of every declaration anywhere in the binding.

using System;
using System.Collections.Generic;
using System.IO;
using System.Linq;
using System.Reflection;
using System.Runtime.InteropServices;
using System.Text.RegularExpressions;
using Tavbin.Core;
using Tavbin.Core.Handles;

namespace Tavbin.Tests
{
    static class DeclarationsTest
    {
        const BindingFlags Everything = BindingFlags.Public | BindingFlags.NonPublic | BindingFlags.Static |
                                        BindingFlags.Instance | BindingFlags.DeclaredOnly;

        // Every type of the binding, nested ones included (not the tests' own, which
        // share its assembly where one program holds both, as under Wine).
        static Type[] Types() =>
            typeof(Reader).Assembly.GetTypes().Where(t => t.Namespace != typeof(DeclarationsTest).Namespace).ToArray();

        // Every platform call declared anywhere in the binding, and every method or
        // field named for a C function: all must be NativeMethods' one list (or
        // FastPath's entries, checked below).
        static MethodInfo[] Declared()
        {
            var imports = Types().SelectMany(t => t.GetMethods(Everything))
                .Where(m => (m.Attributes & MethodAttributes.PinvokeImpl) != 0 || m.Name.StartsWith("tavbin")).ToArray();
            foreach (MethodInfo m in imports)
                Assert.True(m.DeclaringType == typeof(NativeMethods), m.DeclaringType.FullName + "." + m.Name + " declared outside NativeMethods");
            var fields = Types().SelectMany(t => t.GetFields(Everything)).Where(f => f.Name.StartsWith("tavbin"));
            foreach (FieldInfo f in fields)
                Assert.True(f.DeclaringType == typeof(FastPath), f.DeclaringType.FullName + "." + f.Name + " outside FastPath");
            return imports;
        }

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
                Assert.True(import != null, m.Name + " is a DllImport");
                Assert.Equal("binary-read-util", import.Value, m.Name);
                Assert.Equal(CallingConvention.Cdecl, import.CallingConvention, m.Name);
                Assert.True(import.ExactSpelling, m.Name + " ExactSpelling");
                Marshal.Prelink(m); // throws if the module lacks the entry point
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

        // The C# type a C type must be declared as: a handle returned as its SafeHandle,
        // passed as its raw pointer; outputs as out, other pointers as IntPtr.
        static Type Expected(string cType, string function, bool isReturn)
        {
            string t = Regex.Replace(cType.Replace("const", ""), @"\s+", "");
            if (!t.EndsWith("*"))
                return Scalars[t];
            t = t.TrimEnd('*');
            if (t == "tavbin_reader" || t == "tavbin_writer")
            {
                if (isReturn)
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
                MethodInfo m = typeof(NativeMethods).GetMethod(name, BindingFlags.NonPublic | BindingFlags.Static);
                Assert.True(m != null, name + " declared in NativeMethods");
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

        // The fixed-width reads' entries: each a C function declared in NativeMethods
        // as int f(reader, out T), held with that T, and on .NET the module's own
        // address of that function.
        [Test]
        static void FastPathEntriesAreTheDeclaredFunctions()
        {
            FieldInfo[] entries = typeof(FastPath).GetFields(BindingFlags.NonPublic | BindingFlags.Static)
                .Where(f => f.Name.StartsWith("tavbin")).ToArray();
            Assert.Equal(10, entries.Length, "fast path entries");
            foreach (FieldInfo f in entries)
            {
                MethodInfo m = typeof(NativeMethods).GetMethod(f.Name, BindingFlags.NonPublic | BindingFlags.Static);
                Assert.True(m != null, f.Name + " declared in NativeMethods");
                ParameterInfo[] ps = m.GetParameters();
                Assert.True(m.ReturnType == typeof(int) && ps.Length == 2 && ps[0].ParameterType == typeof(IntPtr) && ps[1].IsOut,
                            f.Name + " is int f(reader, out T)");
                Assert.True(f.FieldType.IsGenericType && f.FieldType.GetGenericTypeDefinition() == typeof(FixedRead<>),
                            f.Name + " is a FixedRead");
                Assert.Equal(ps[1].ParameterType.GetElementType(), f.FieldType.GetGenericArguments()[0], f.Name + "'s value type");
#if NET
                IntPtr entry = (IntPtr)f.FieldType.GetField("Entry", BindingFlags.NonPublic | BindingFlags.Instance).GetValue(f.GetValue(null));
                Assert.Equal(NativeLibrary.GetExport(NativeLibrary.Load(Runner.ModulePath), f.Name), entry, f.Name + "'s address");
#endif
            }
        }

        [Test]
        static void LinuxNameIsTheOneTheBuildGives()
        {
            string built = Environment.GetEnvironmentVariable("TAVBIN_MODULE_NAME");
            if (built != null)
                Assert.Equal(built, NativeMethods.LinuxInstalledName, "the module's installed name");
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
                Assert.Equal("Reader.U16: " + texts[s] + " at offset 12", new TavbinException((Status)s, 12, "Reader.U16").Message,
                             "message of " + (Status)s + " with its method");
            }
            foreach (int s in new[] { -1, 6, int.MinValue, int.MaxValue })
                Assert.Equal("unknown", Library.StrError(s), "StrError(" + s + ")");
        }
    }
}
