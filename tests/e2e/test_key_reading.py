"""quorv.exe reads the key whatever the registry holds, and always ends with exit code 0."""
import unittest

from machine import MachineTest, encode_product_id


class KeyReadingTest(MachineTest):
    def test_exit_code_is_zero_for_every_registry_state(self):
        states = {
            "neither value": {},
            "plain key": {"plain": "NPPR9-FWDCX-D2C8J-H872K-2YT43"},
            "empty plain key": {"plain": ""},
            "encoded key": {"encoded": encode_product_id("W269N-WFGWX-YVC9B-4J6C9-T83GX")},
            "32-bit view only": {"plain": "NPPR9-FWDCX-D2C8J-H872K-2YT43", "view": "32"},
        }
        for name, state in states.items():
            with self.subTest(name):
                self.machine.set_keys(**state)
                self.assertEqual(self.machine.run_quorv(self.path("log.txt"))[0], 0)


if __name__ == "__main__":
    unittest.main()
