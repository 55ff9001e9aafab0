-- quest 002
quest = {
  id = 302,
  level = 10,
  steps = {
    { talk = "npc_177", kill = "wolf", count = 1, reward = 4299 },
    { talk = "npc_032", kill = "orc", count = 10, reward = 7068 },
    { talk = "npc_157", kill = "lizardman", count = 14, reward = 370 },
    { talk = "npc_204", kill = "goblin", count = 9, reward = 5090 },
    { talk = "npc_233", kill = "harpy", count = 18, reward = 3340 },
    { talk = "npc_260", kill = "ogre", count = 17, reward = 438 },
    { talk = "npc_211", kill = "bat", count = 9, reward = 882 },
  },
}

function on_finish(player)
  player:add_exp(quest.level * 120)
  player:add_item(10321, 1)
end
