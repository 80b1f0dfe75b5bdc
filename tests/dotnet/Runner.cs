// Runner.cs - runs every [Test] method of the C# binding's tests, no framework needed:
//   mono TavbinTests.exe EXPORTS_TXT TAVBIN_H MODULE_PATH VECTORS_TXT
// Under xunit (XUNIT defined, Suite.cs) the same tests run one by one, the paths
// taken from TAVBIN_SOURCE_DIR and TAVBIN_LIBRARY.
// TAVBIN_VECTORS, where set, names the vectors file in either case.
// After each test every handle and pin it made must have been released.

using System;
using System.Collections.Generic;
using System.Linq;
using System.Reflection;
using Tavbin.Core;

namespace Tavbin.Tests
{
    [AttributeUsage(AttributeTargets.Method)]
    sealed class TestAttribute : Attribute { }

    sealed class Failure : Exception
    {
        public Failure(string message) : base(message) { }
    }

    static class Assert
    {
        public static void True(bool condition, string what)
        {
            if (!condition) throw new Failure(what);
        }

        public static void Equal<T>(T expected, T actual, string what)
        {
            if (!EqualityComparer<T>.Default.Equals(expected, actual))
                throw new Failure($"{what}: expected {expected}, got {actual}");
        }

        public static void Bytes(byte[] expected, byte[] actual, string what) =>
            True(expected.SequenceEqual(actual), $"{what}: expected {Hex(expected)}, got {Hex(actual)}");

        public static T Throws<T>(Action action, string what) where T : Exception
        {
            try { action(); }
            catch (T e) { return e; }
            catch (Exception e) { throw new Failure($"{what}: expected {typeof(T).Name}, got {e.GetType().Name}: {e.Message}"); }
            throw new Failure($"{what}: expected {typeof(T).Name}, nothing thrown");
        }

        // The call fails with this status, as the exception's Status and in its message,
        // which names the method (of Reader, Writer, LsbBitReader or Library) and the
        // offset.
        public static void Fails(Status status, Action action, string what)
        {
            TavbinException e = Throws<TavbinException>(action, what);
            Equal(status, e.Status, what);
            True(e.Where != null && System.Text.RegularExpressions.Regex.IsMatch(e.Where, @"^(new )?(Reader|Writer|LsbBitReader|Library)(\.[A-Z]\w*)?$"),
                 what + ": the method named, not " + e.Where);
            Equal(e.Where + ": " + Library.StrError((int)status) + " at offset " + e.Offset, e.Message, what + " (message)");
        }

        public static string Hex(byte[] b) => BitConverter.ToString(b);

        // "E5 8E 26" as bytes.
        public static byte[] Of(string hex) =>
            hex.Split(new[] { ' ' }, StringSplitOptions.RemoveEmptyEntries).Select(h => Convert.ToByte(h, 16)).ToArray();
    }

    static class Runner
    {
        public static string ExportsPath, DeclarationsPath, ModulePath, VectorsPath;

        public static List<MethodInfo> Tests() => typeof(Runner).Assembly.GetTypes()
            .SelectMany(t => t.GetMethods(BindingFlags.Static | BindingFlags.NonPublic))
            .Where(m => m.IsDefined(typeof(TestAttribute), false)).ToList();

        public static string Name(MethodInfo m) => m.DeclaringType.Name + "." + m.Name;

        public static void CollectEverything()
        {
            for (int i = 0; i < 3; i++)
            {
                GC.Collect();
                GC.WaitForPendingFinalizers();
            }
        }

        // Runs one test; a failure throws, as its own exception where it is not ours.
        public static void Run(MethodInfo m)
        {
            try
            {
                m.Invoke(null, null);
            }
            catch (TargetInvocationException e)
            {
                System.Runtime.ExceptionServices.ExceptionDispatchInfo.Capture(e.InnerException).Throw();
            }
            CollectEverything();
            Assert.Equal(0, Checks.Held, "handles and pins still held after the test");
        }

#if !XUNIT
        static int Main(string[] args)
        {
            if (args.Length != 4)
            {
                Console.Error.WriteLine("usage: TavbinTests.exe EXPORTS_TXT TAVBIN_H MODULE_PATH VECTORS_TXT");
                return 2;
            }
            ExportsPath = args[0];
            DeclarationsPath = args[1];
            ModulePath = args[2];
            VectorsPath = Environment.GetEnvironmentVariable("TAVBIN_VECTORS") ?? args[3];
            var tests = Tests();
            int failed = 0;
            foreach (MethodInfo m in tests)
            {
                try
                {
                    Run(m);
                    Console.WriteLine("ok      " + Name(m));
                }
                catch (Exception e)
                {
                    failed++;
                    Console.WriteLine("FAILED  " + Name(m) + ": " + (e is Failure ? e.Message : e.ToString()));
                }
            }
            Console.WriteLine($"{tests.Count - failed} of {tests.Count} passed");
            return failed == 0 && tests.Count > 0 ? 0 : 1;
        }
#endif
    }
}
