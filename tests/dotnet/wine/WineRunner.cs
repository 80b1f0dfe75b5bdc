// WineRunner.cs - the entry point of the Windows run (WineTests.csproj): every test
// Runner.cs finds, with the same arguments, run the same way, but for the tests that
// read Linux's own files, which are reported skipped. Those find Linux by
// /proc/self/maps being there, and under Wine it is: Wine takes a path beginning
// with '/' as the host's. They would read the Wine process's map and call glibc's
// mallinfo2 with Windows' calling convention.
//   wine TavbinTests.exe EXPORTS_TXT TAVBIN_H MODULE_PATH VECTORS_TXT

using System;
using System.Linq;
using System.Reflection;

namespace Tavbin.Tests
{
    static class WineRunner
    {
        static readonly string[] LinuxOnly =
        {
            "DeclarationsTest.LoadsTheModuleItWasGiven", // the module's path in /proc/self/maps
            "LifetimeTest.DisposeFreesTheModulesMemory", // glibc's malloc count
        };

        static int Main(string[] args)
        {
            if (args.Length != 4)
            {
                Console.Error.WriteLine("usage: TavbinTests.exe EXPORTS_TXT TAVBIN_H MODULE_PATH VECTORS_TXT");
                return 2;
            }
            Runner.ExportsPath = args[0];
            Runner.DeclarationsPath = args[1];
            Runner.ModulePath = args[2];
            Runner.VectorsPath = Environment.GetEnvironmentVariable("TAVBIN_VECTORS") ?? args[3];
            var tests = Runner.Tests();
            var missing = LinuxOnly.Where(n => !tests.Any(m => Runner.Name(m) == n)).ToList();
            if (missing.Count > 0)
            {
                Console.Error.WriteLine("no such test to skip: " + string.Join(", ", missing));
                return 2;
            }
            int failed = 0, skipped = 0;
            foreach (MethodInfo m in tests)
            {
                string name = Runner.Name(m);
                if (LinuxOnly.Contains(name))
                {
                    skipped++;
                    Console.WriteLine("skipped " + name + ": reads Linux's own files");
                    continue;
                }
                try
                {
                    Runner.Run(m);
                    Console.WriteLine("ok      " + name);
                }
                catch (Exception e)
                {
                    failed++;
                    Console.WriteLine("FAILED  " + name + ": " + (e is Failure ? e.Message : e.ToString()));
                }
            }
            Console.WriteLine($"{tests.Count - failed - skipped} passed, {failed} failed, {skipped} skipped");
            return failed == 0 && tests.Count > skipped ? 0 : 1;
        }
    }
}
