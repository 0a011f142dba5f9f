-- What the MSI needs beyond holwerk.wxs.in, in msibuild's SQL: wixl knows no
-- Environment element. One statement a line; scripts/make-msi.py applies them.
--
-- The installation folder at the end of the machine's PATH ("=": set on
-- install, "-": removed on uninstall, "*": the system's variable; "[~];" before
-- the value appends it to what is there and leaves the rest alone).
CREATE TABLE `Environment` (`Environment` CHAR(72) NOT NULL, `Name` CHAR(255) NOT NULL LOCALIZABLE, `Value` CHAR(255) LOCALIZABLE, `Component_` CHAR(72) NOT NULL PRIMARY KEY `Environment`)
INSERT INTO `Environment` (`Environment`, `Name`, `Value`, `Component_`) VALUES ('Path', '=-*PATH', '[~];[INSTALLDIR]', 'Program')
-- The standard actions that act on that table, at their usual places.
INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('RemoveEnvironmentStrings', 3300)
INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('WriteEnvironmentStrings', 5200)
