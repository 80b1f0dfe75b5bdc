// Runner.cs - runs every [Test] method of the C# binding's tests, no framework needed:
//   mono TavbinTests.exe EXPORTS_TXT TAVBIN_H MODULE_PATH

using System;
using System.Collections.Generic;
using System.Linq;
using System.Reflection;

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

        // The call fails with this status, as the exception's Status and as its message.
        public static void Fails(Status status, Action action, string what)
        {
            TavbinException e = Throws<TavbinException>(action, what);
            Equal(status, e.Status, what);
            Equal(Library.StrError((int)status), e.Message, what + " (message)");
        }

        public static string Hex(byte[] b) => BitConverter.ToString(b);

        // "E5 8E 26" as bytes.
        public static byte[] Of(string hex) =>
            hex.Split(new[] { ' ' }, StringSplitOptions.RemoveEmptyEntries).Select(h => Convert.ToByte(h, 16)).ToArray();
    }

    static class Runner
    {
        public static string ExportsPath, HeaderPath, ModulePath;

        static int Main(string[] args)
        {
            if (args.Length != 3)
            {
                Console.Error.WriteLine("usage: TavbinTests.exe EXPORTS_TXT TAVBIN_H MODULE_PATH");
                return 2;
            }
            ExportsPath = args[0];
            HeaderPath = args[1];
            ModulePath = args[2];
            var tests = Assembly.GetExecutingAssembly().GetTypes()
                .SelectMany(t => t.GetMethods(BindingFlags.Static | BindingFlags.NonPublic))
                .Where(m => m.IsDefined(typeof(TestAttribute), false)).ToList();
            int failed = 0;
            foreach (MethodInfo m in tests)
            {
                string name = m.DeclaringType.Name + "." + m.Name;
                try
                {
                    m.Invoke(null, null);
                    Console.WriteLine("ok      " + name);
                }
                catch (TargetInvocationException e)
                {
                    failed++;
                    Exception inner = e.InnerException;
                    Console.WriteLine("FAILED  " + name + ": " + (inner is Failure ? inner.Message : inner.ToString()));
                }
            }
            Console.WriteLine($"{tests.Count - failed} of {tests.Count} passed");
            return failed == 0 && tests.Count > 0 ? 0 : 1;
        }
    }
}
